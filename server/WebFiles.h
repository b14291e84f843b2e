// The pages the venue server hands to browsers: plain files below one folder, as they are.
//
// Only what a page is made of is served (HTML, CSS, JavaScript modules, SVG, PNG, icons,
// JSON, fonts), only plain files, only below the folder (no segment that starts with '.', no
// link that leads outside), at most kMaxWebFileBytes each. "/" is index.html.
#pragma once

#include "server/HttpServer.h"

#include <string>
#include <vector>

namespace zev {

constexpr qint64 kMaxWebFileBytes = 2 * 1024 * 1024;

class WebFiles {
public:
    explicit WebFiles(std::string folder);
    /// The folder beside the program (a build) or in its share folder (an installation).
    static std::string defaultFolder();
    bool present() const;
    /// The file of the path's segments, or a 404 problem.
    HttpResponse get(const std::vector<std::string> &segments) const;

private:
    std::string m_folder;
};

} // namespace zev
