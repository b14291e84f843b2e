// A headless application and a working folder of its own, made once for a fuzzing run.
#pragma once

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

inline void startHeadlessApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("ZEV720_COM1", "/nonexistent/fuzz-port"); // start-up finds no processor
    static QApplication *app = new QApplication(argc, argv);
    static QTemporaryDir *folder = new QTemporaryDir;
    QDir::setCurrent(folder->path());
    (void)app;
}

/// Writes the input as a file of the working folder.
inline void writeInput(const char *name, const std::uint8_t *data, std::size_t size)
{
    FILE *file = std::fopen(name, "wb");
    if (!file) return;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
}
