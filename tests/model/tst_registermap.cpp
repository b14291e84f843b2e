// The register map's encodings, labels, factory values and mode slot copies.
#include "model/Encoding.h"
#include "model/Layout.h"
#include "model/ParameterModel.h"
#include "model/Shown.h"

#include <QSet>
#include <QTest>

using namespace zev;

class TestRegisterMap : public QObject {
    Q_OBJECT
private slots:
    void encodeAndLabel_data();
    void encodeAndLabel();
    void decode_data();
    void decode();
    void switches();
    void transferSet();
    void factoryValuesKeepWhatTheyDoNotName();
    void copyRegisterBlock();
    void everyNameHasItsEnglish();
};

void TestRegisterMap::encodeAndLabel_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("label");
    QTest::newRow("volume top") << 16 << 0 << 0 << "88dB";
    QTest::newRow("volume 20") << 16 << 20 << 20 << "68dB";
    QTest::newRow("volume 87") << 86 << 87 << 87 << "1dB";
    QTest::newRow("volume bottom stores 127") << 16 << 88 << 127 << "0dB";
    QTest::newRow("boost-first top") << 24 << -6 << 6 << "";
    QTest::newRow("boost-first cut") << 43 << 1 << 9 << "";
    QTest::newRow("boost-first bottom") << 24 << 6 << 14 << "";
    QTest::newRow("cut-first top") << 82 << -7 << 15 << "";
    QTest::newRow("cut-first bottom") << 83 << 7 << 7 << "";
    QTest::newRow("key #4") << 21 << 1 << 9 << "";
    QTest::newRow("effect volume dB") << 48 << 15 << 17 << "17dB";
    QTest::newRow("echo value") << 50 << 16 << 34 << "34";
    QTest::newRow("reversed past K wraps") << 50 << 51 << 255 << "255";
    QTest::newRow("lowcut 50Hz") << 35 << 2 << 3 << "";
    QTest::newRow("mode register as given") << 23 << 12 << 12 << "";
}

void TestRegisterMap::encodeAndLabel()
{
    QFETCH(int, address);
    QFETCH(int, position);
    QFETCH(int, value);
    QFETCH(QString, label);
    const RegisterRow &row = *findRegister(static_cast<std::uint8_t>(address));
    const std::uint8_t encoded = encodePosition(row, position);
    QCOMPARE(int(encoded), value);
    QCOMPARE(QString::fromStdString(labelText(row, position, encoded)), label);
}

void TestRegisterMap::decode_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("label");
    QTest::newRow("127 is the bottom") << 16 << 127 << 88 << "0dB";
    QTest::newRow("no position gives 100") << 16 << 100 << 100 << "-12dB";
    QTest::newRow("255 below the bottom") << 80 << 255 << 255 << "-167dB";
    QTest::newRow("boost-first 7 above the top") << 24 << 7 << -7 << "";
    QTest::newRow("boost-first 8 is 0 dB") << 24 << 8 << 0 << "";
    QTest::newRow("boost-first 14") << 37 << 14 << 6 << "";
    QTest::newRow("cut-first 8 below the bottom") << 82 << 8 << 8 << "";
    QTest::newRow("cut-first 9 is +1") << 82 << 9 << -1 << "";
    QTest::newRow("reversed value above K") << 59 << 30 << -11 << "30";
    QTest::newRow("low pass 150Hz") << 87 << 3 << 6 << "";
}

void TestRegisterMap::decode()
{
    QFETCH(int, address);
    QFETCH(int, value);
    QFETCH(int, position);
    QFETCH(QString, label);
    const RegisterRow &row = *findRegister(static_cast<std::uint8_t>(address));
    const int decoded = decodePosition(row, static_cast<std::uint8_t>(value));
    QCOMPARE(decoded, position);
    QCOMPARE(QString::fromStdString(labelText(row, decoded, static_cast<std::uint8_t>(value))),
             label);
}

void TestRegisterMap::switches()
{
    const RegisterRow &mute = *findRegister(22);
    const RegisterRow &excite = *findRegister(34);
    QVERIFY(decodeChecked(mute, 7));
    QVERIFY(!decodeChecked(mute, 0));
    QVERIFY(decodeChecked(excite, 0));
    QVERIFY(!decodeChecked(excite, 255));
    QVERIFY(!decodeChecked(excite, 7));
    QCOMPARE(controlKind(excite), ControlKind::CheckBox);
    QCOMPARE(controlKind(*findRegister(44)), ControlKind::Radio);
    QCOMPARE(controlKind(*findRegister(49)), ControlKind::Mode);
}

void TestRegisterMap::transferSet()
{
    QList<int> expected;
    for (auto [first, last] : {std::pair{16, 18}, {21, 30}, {32, 45}, {48, 69}, {80, 83}, {85, 87}})
        for (int a = first; a <= last; ++a)
            expected << a;
    QList<int> actual;
    for (const RegisterRow &row : registerMap())
        actual << row.address;
    QCOMPARE(actual, expected);
    for (int a : {0, 3, 6, 7, 19, 20, 31, 46, 47, 70, 79, 84, 88, 255})
        QVERIFY(!findRegister(static_cast<std::uint8_t>(a)));
    QCOMPARE(actual.size(), kTransferSetSize);
}

void TestRegisterMap::factoryValuesKeepWhatTheyDoNotName()
{
    ParameterModel model;
    // As after reading a file of 0xAA bytes.
    model.image.fill(0xAA);
    for (RegisterImage &slot : model.modeSlots)
        slot.fill(0xAA);
    model.pending.fill(1);
    model.loadFactoryValues();

    QCOMPARE(int(model.image[16]), 20);
    QCOMPARE(int(model.image[34]), 0);
    QCOMPARE(int(model.image[49]), 2);
    const std::uint8_t k2[] = {34, 16, 22, 20, 40, 0, 30, 30, 26, 10};
    for (int i = 0; i < 10; ++i)
        QCOMPARE(int(model.image[50 + i]), int(k2[i]));
    for (int a : {0, 3, 19, 31, 84, 255})
        QCOMPARE(int(model.image[a]), 0xAA);
    QCOMPARE(model.pendingCount(), 256); // the pending table is not touched

    for (int s = 0; s <= 12; ++s) {
        QCOMPARE(int(model.modeSlots[s][24]), 0);
        QCOMPARE(int(model.modeSlots[s][43]), 0);
        QCOMPARE(int(model.modeSlots[s][44]), 0xAA);
    }
    QCOMPARE(int(model.modeSlots[0][50]), 0xAA); // slot 0 has no echo and reverb preset
    QCOMPARE(int(model.modeSlots[1][50]), 36);
    QCOMPARE(int(model.modeSlots[3][58]), 25);
    QCOMPARE(int(model.modeSlots[4][53]), 6);
    QCOMPARE(int(model.modeSlots[13][24]), 0xAA);
    QCOMPARE(int(model.modeSlots[20][50]), 0xAA);
}

void TestRegisterMap::copyRegisterBlock()
{
    ParameterModel model;
    for (int a = 0; a < 256; ++a)
        model.image[a] = static_cast<std::uint8_t>(a);
    QVERIFY(model.copyRegisterBlock(36, 4, CopyDirection::Save));
    QCOMPARE(int(model.modeSlots[4][36]), 0);
    QCOMPARE(int(model.modeSlots[4][37]), 37);
    QCOMPARE(int(model.modeSlots[4][43]), 43);
    QCOMPARE(int(model.modeSlots[4][44]), 0);
    QVERIFY(!model.copyRegisterBlock(49, 21, CopyDirection::Save));
    QVERIFY(!model.copyRegisterBlock(49, 200, CopyDirection::Restore));
    QVERIFY(model.copyRegisterBlock(16, 4, CopyDirection::Save));
    QCOMPARE(int(model.modeSlots[4][16]), 0);
    QVERIFY(model.copyRegisterBlock(49, 20, CopyDirection::Restore));
    QCOMPARE(int(model.image[50]), 0);
    QCOMPARE(int(model.image[59]), 0);
    QCOMPARE(int(model.image[60]), 60);
}

// Every text of the map and the layout that people read has its English, and the 56 English
// names are as unique as the Chinese ones: the English window, zev720ctl --lang en and the
// pages in English name each register one way.
void TestRegisterMap::everyNameHasItsEnglish()
{
    QSet<QString> names;
    for (const RegisterRow &row : registerMap()) {
        const std::string name = nameForPeople(row.address, Language::English);
        QVERIFY2(!name.empty() && !hasChinese(name), name.c_str());
        names << QString::fromStdString(name);
        QVERIFY2(!hasChinese(english(row.caption ? row.caption : "")), row.caption);
        for (const Choice &choice : row.choices)
            QVERIFY2(!hasChinese(english(choice.caption)), choice.caption);
        for (int value = 0; value < 256; ++value)
            if (controlShows(row, std::uint8_t(value)))
                QVERIFY2(!hasChinese(english(shownValue(row, std::uint8_t(value)))),
                         shownValue(row, std::uint8_t(value)).c_str());
        const Placement where = placementOf(row.address);
        QVERIFY(!hasChinese(english(where.page)) && !hasChinese(english(where.group)));
    }
    QCOMPARE(names.size(), qsizetype(registerMap().size()));
    QCOMPARE(nameForPeople(16, Language::English), std::string("Music volume"));
    QCOMPARE(nameForPeople(16), std::string("音乐调整 音量"));
    QVERIFY(hasChinese("音量") && hasChinese("（") && !hasChinese("dB ± é"));
    Language language = Language::Chinese;
    QVERIFY(parseLanguage("en_US.UTF-8", language) && language == Language::English);
    QVERIFY(parseLanguage("ZH", language) && language == Language::Chinese);
    QVERIFY(!parseLanguage("eng", language) && !parseLanguage("fr", language));
}

QTEST_APPLESS_MAIN(TestRegisterMap)
#include "tst_registermap.moc"
