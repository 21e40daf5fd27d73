#include "CommandLine.h"

namespace {

bool IsSeparator(char c)
{
    return c == ' ' || c == '\t';
}

std::string QuoteArgument(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them.
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

// Parses the program token, which knows no escapes.
size_t SplitProgram(const std::string& line, std::vector<std::string>& args)
{
    size_t i = 0;
    std::string program;
    if (i < line.size() && line[i] == '"') {
        const size_t close = line.find('"', i + 1);
        program = line.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
        i = close == std::string::npos ? line.size() : close + 1;
    }
    while (i < line.size() && !IsSeparator(line[i]))
        program += line[i++];
    args.push_back(program);
    return i;
}

} // namespace

std::string JoinCommandLine(const std::vector<std::string>& args)
{
    std::string line;
    for (const std::string& arg : args) {
        if (!line.empty())
            line += ' ';
        line += QuoteArgument(arg);
    }
    return line;
}

std::vector<std::string> SplitCommandLine(const std::string& line)
{
    std::vector<std::string> args;
    size_t i = SplitProgram(line, args);
    for (;;) {
        while (i < line.size() && IsSeparator(line[i]))
            ++i;
        if (i >= line.size())
            return args;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsSeparator(line[i]))) {
            size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\') {
                ++backslashes;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    arg += '"';
                } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    arg += '"';  // "" inside quotes is a literal quote
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                arg.append(backslashes, '\\');
                if (i < line.size() && (quoted || !IsSeparator(line[i])))
                    arg += line[i++];
            }
        }
        args.push_back(arg);
    }
}
