#include "server/WebFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <map>

namespace zev {
namespace {

const std::map<QString, const char *> &contentTypes()
{
    static const std::map<QString, const char *> types{
        {"html", "text/html; charset=utf-8"},   {"css", "text/css; charset=utf-8"},
        {"js", "text/javascript; charset=utf-8"}, {"mjs", "text/javascript; charset=utf-8"},
        {"json", "application/json"},           {"svg", "image/svg+xml"},
        {"png", "image/png"},                   {"ico", "image/x-icon"},
        {"woff2", "font/woff2"},                {"txt", "text/plain; charset=utf-8"}};
    return types;
}

} // namespace

WebFiles::WebFiles(std::string folder) : m_folder(std::move(folder)) {}

std::string WebFiles::defaultFolder()
{
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString &candidate : {here + "/web", here + "/../share/zev720/web"})
        if (QFileInfo(candidate + "/index.html").isFile())
            return QDir(candidate).canonicalPath().toStdString();
    return (here + "/../share/zev720/web").toStdString();
}

bool WebFiles::present() const
{
    return QFileInfo(QString::fromStdString(m_folder + "/index.html")).isFile();
}

HttpResponse WebFiles::get(const std::vector<std::string> &segments) const
{
    const HttpResponse none = problem(404, "no such page", "path");
    QString relative;
    for (const std::string &segment : segments) {
        if (segment.empty() || segment.front() == '.') return none;
        relative += "/" + QString::fromStdString(segment);
    }
    if (relative.isEmpty()) relative = "/index.html";
    const QString root = QDir(QString::fromStdString(m_folder)).canonicalPath();
    const QFileInfo info(root + relative);
    const auto type = contentTypes().find(info.suffix().toLower());
    // Below the folder once every link is followed, a plain file, of a kind pages are made of.
    if (root.isEmpty() || !info.isFile() || type == contentTypes().end() ||
        !info.canonicalFilePath().startsWith(root + "/") || info.size() > kMaxWebFileBytes)
        return none;
    QFile file(info.canonicalFilePath());
    if (!file.open(QIODevice::ReadOnly)) return none;
    HttpResponse response;
    response.contentType = type->second;
    response.body = file.read(kMaxWebFileBytes).toStdString();
    return response;
}

} // namespace zev
