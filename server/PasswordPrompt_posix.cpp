#include "server/PasswordPrompt.h"

#include "server/Access.h"

#include <cstdio>
#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace zev {
namespace {

bool readHidden(const char *prompt, std::string &line)
{
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    termios before{};
    const bool terminal = tcgetattr(STDIN_FILENO, &before) == 0;
    if (terminal) {
        termios quiet = before;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const bool got = bool(std::getline(std::cin, line));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
        std::fputs("\n", stderr);
    }
    return got;
}

} // namespace

bool askNewPassword(const std::string &user, std::string &password, std::string &error)
{
    const bool terminal = isatty(STDIN_FILENO);
    std::string again;
    if (!readHidden(terminal ? ("Password for " + user + ": ").c_str() : "", password)) {
        error = "no password given";
        return false;
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (password.size() < kMinPasswordBytes) {
        error = "a password has at least " + std::to_string(kMinPasswordBytes) + " characters";
        return false;
    }
    if (password.size() > kMaxPasswordBytes) {
        error = "a password has at most " + std::to_string(kMaxPasswordBytes) + " bytes";
        return false;
    }
    if (terminal && (!readHidden("The same again: ", again) || again != password)) {
        error = "the two passwords differ";
        return false;
    }
    return true;
}

} // namespace zev
