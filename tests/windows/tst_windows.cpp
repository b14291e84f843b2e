// What Windows does differently, under wine or on Windows: saves onto devices and folders,
// replacing a file whole, files read only when regular, names with drives and backslashes.
#include "files/AtomicFile.h"
#include "files/ParameterFile.h"
#include "settings/PortSettings.h"
#include "files/TextFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestWindows : public QObject
{
    Q_OBJECT
private slots:
    void init() { QVERIFY(m_dir.isValid()); QDir::setCurrent(m_dir.path()); }
    void savesRefuseWhatIsNoFile_data();
    void savesRefuseWhatIsNoFile();
    void saveReplacesWholeAndLeavesNothingBeside();
    void readOnlyFileIsKept();
    void readsOnlyRegularFiles();
    void parameterFileRoundTrip();
    void namesWithFolders();

private:
    QTemporaryDir m_dir;
};

void TestWindows::savesRefuseWhatIsNoFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("NUL") << "NUL";
    QTest::newRow("CON") << "CON";
    QTest::newRow("COM1") << "COM1";
    QTest::newRow("a folder") << "folder";
}

// A device or a folder under the name: refused with "不是普通文件" (or the system's reason),
// and nothing is made beside it.
void TestWindows::savesRefuseWhatIsNoFile()
{
    QFETCH(QString, name);
    QVERIFY(QDir().mkpath("folder"));
    std::string error;
    const char bytes[] = "settings";
    QVERIFY(!zev::writeFileSafely(name.toStdString(), bytes, sizeof bytes, error));
    QVERIFY2(QString::fromStdString(error).startsWith(name + ": "), error.c_str());
    if (name == "NUL" || name == "folder")
        QVERIFY2(QString::fromStdString(error).contains(zev::kNotARegularFile), error.c_str());
    QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden).size(), 0);
    QVERIFY(QDir("folder").isEmpty());
}

void TestWindows::saveReplacesWholeAndLeavesNothingBeside()
{
    QFile old("target.dat");
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(100, 'a'));
    old.close();
    // What a killed save left: removed by the next save of the same file.
    QFile leftover(QString("target.dat") + zev::kTemporaryMarker + "Ab3dE9");
    QVERIFY(leftover.open(QIODevice::WriteOnly));
    leftover.close();
    std::string error;
    zev::SaveMethod method{};
    const QByteArray bytes(5632, 'b');
    QVERIFY2(zev::writeFileSafely("target.dat", bytes.data(), std::size_t(bytes.size()), error,
                                  &method),
             error.c_str());
    QCOMPARE(int(method), int(zev::SaveMethod::Replaced));
    QFile now("target.dat");
    QVERIFY(now.open(QIODevice::ReadOnly));
    QCOMPARE(now.readAll(), bytes);
    QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{"target.dat"});
    // A new file is made where there was none.
    QVERIFY(zev::writeFileSafely("new.dat", bytes.data(), 10, error));
    QCOMPARE(QFileInfo("new.dat").size(), 10);
}

void TestWindows::readOnlyFileIsKept()
{
    QFile file("kept.dat");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("old");
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::ReadUser));
    std::string error;
    QVERIFY(!zev::writeFileSafely("kept.dat", "new!", 4, error));
    QVERIFY2(QString::fromStdString(error).startsWith("kept.dat: "), error.c_str());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("old"));
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
}

void TestWindows::readsOnlyRegularFiles()
{
    std::string text, error;
    QCOMPARE(zev::readTextFile("NUL", 100, text, error), zev::TextFileStatus::Failed);
    QVERIFY2(QString::fromStdString(error).contains(zev::kNotARegularFile), error.c_str());
    QVERIFY(QDir().mkpath("folder"));
    QCOMPARE(zev::readTextFile("folder", 100, text, error), zev::TextFileStatus::Failed);
    QCOMPARE(zev::readTextFile("missing.txt", 100, text, error), zev::TextFileStatus::Missing);
    QFile big("big.txt");
    QVERIFY(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(200, 'x'));
    big.close();
    QCOMPARE(zev::readTextFile("big.txt", 100, text, error), zev::TextFileStatus::Failed);
    QVERIFY(QString::fromStdString(error).contains("larger than 100 bytes"));
    QCOMPARE(zev::readFileStart("big.txt", 50, text, error), zev::TextFileStatus::Read);
    QCOMPARE(text.size(), std::size_t(50));
    QCOMPARE(zev::fileKind("NUL"), zev::FileKind::Other);
    QCOMPARE(zev::fileKind("folder"), zev::FileKind::Folder);
    std::uint64_t size = 0;
    QCOMPARE(zev::fileKind("big.txt", &size), zev::FileKind::Regular);
    QCOMPARE(size, std::uint64_t(200));
}

void TestWindows::parameterFileRoundTrip()
{
    zev::ParameterModel model;
    model.image[16] = 0x2A;
    model.modeSlots[20][255] = 0x7F;
    std::string error;
    QVERIFY2(zev::writeParameterFile("ZEV720Default.dat", model, error), error.c_str());
    QCOMPARE(QFileInfo("ZEV720Default.dat").size(), qint64(zev::kParameterFileSize));
    zev::ParameterModel read;
    QCOMPARE(zev::readWholeParameterFile("ZEV720Default.dat", read, error), zev::ReadStatus::Read);
    QCOMPARE(int(read.image[16]), 0x2A);
    QCOMPARE(int(read.modeSlots[20][255]), 0x7F);
    QCOMPARE(zev::readWholeParameterFile("NUL", read, error), zev::ReadStatus::Failed);
    // The port settings file: written, read back; one of the wrong size is removed at start.
    zev::portSettings.port = 5;
    QVERIFY2(zev::SavePortSettings(error), error.c_str());
    zev::portSettings = {};
    zev::LoadPortSettings();
    QCOMPARE(zev::portSettings.port, 5);
    QFile cfg(zev::kPortSettingsFile);
    QVERIFY(cfg.open(QIODevice::Append));
    cfg.write("x");
    cfg.close();
    zev::LoadPortSettings();
    QVERIFY(!QFile::exists(zev::kPortSettingsFile));
}

void TestWindows::namesWithFolders()
{
    QVERIFY(zev::hasFolderPart("C:\\venue\\a.dat"));
    QVERIFY(zev::hasFolderPart("D:a.dat"));
    QVERIFY(zev::hasFolderPart("backup/a.dat"));
    QVERIFY(!zev::hasFolderPart("a.dat"));
    const std::string resolved = zev::resolveFileName("a.dat");
    QVERIFY2(QString::fromStdString(resolved).endsWith("/a.dat"), resolved.c_str());
    QVERIFY(QString::fromStdString(resolved).contains(':')); // a drive
    QCOMPARE(zev::resolveFileName("C:\\x\\a.dat"), std::string("C:\\x\\a.dat"));
}

QTEST_GUILESS_MAIN(TestWindows)
#include "tst_windows.moc"
