#include "QuorvexCommandLine.h"

#include "Console.h"

#include <cstring>

namespace {

const char kInvalidInstruction[] = "\nInvalid instruction...\n";
const char kInvalidSampling[] = "\nInvalid parameter: entry must be either 1, 10, 100 or 1000\n";
const char kCommandLineTooLong[] = "\nInvalid instruction: the command line is longer than 1023 characters\n";

bool IsOption(const CString& token)
{
    return token.GetString()[0] == '-' || token.GetString()[0] == '/';
}

bool StartsWithOption(const CString& token, const char* name)
{
    // Either switch character introduces the name: "-n" or "/n".
    return std::strncmp(token.GetString() + 1, name, std::strlen(name)) == 0;
}

bool IsSamplingInterval(const CString& token)
{
    return token == "1" || token == "10" || token == "100" || token == "1000";
}

} // namespace

CQuorvexCommandLine::CQuorvexCommandLine(const char* cmdLine, MessageBoxes& boxes)
    : m_stream(nullptr), m_boxes(boxes)
{
    m_szCmdLine[0] = '\0';
    if (!cmdLine || !*cmdLine)
        return;
    if (std::strlen(cmdLine) > MAX_CMDLINE) {
        m_bCmdLineTooLong = true;
        return;
    }
    std::strcpy(m_szCmdLine, cmdLine);
}

// The console log stream is the console run's to close.
CQuorvexCommandLine::~CQuorvexCommandLine() = default;

void CQuorvexCommandLine::OpenConsole()
{
    if (!AllocConsole()) {
        m_boxes.Show(nullptr, "Could not allocate a console.", "Message Box", MB_OK);
        ExitProcess(1);
    }
}

bool CQuorvexCommandLine::ParseOptions()
{
    if (m_bCmdLineTooLong)
        return Refuse(kCommandLineTooLong);
    CString line = m_szCmdLine;
    line.TrimRight();
    if (line.IsEmpty())
        return true;

    CmdLineOptionCode pending = OPT_NONE;
    for (;;) {
        line.TrimLeft();
        const int blank = line.Find(' ');
        const CString token = blank < 0 ? line : line.Left(blank);
        if (IsOption(token)) {
            if (StartsWithOption(token, "n")) {
                m_options[OPT_SAMPLING].m_bSet = true;
                pending = OPT_SAMPLING;
            } else if (StartsWithOption(token, "l")) {
                m_options[OPT_LOG].m_bSet = true;
                m_options[OPT_LOG].m_strValue = "Quorvex_Log.txt";
                pending = OPT_LOG;
            } else if (StartsWithOption(token, "app")) {
                m_options[OPT_APP].m_bSet = true;
                pending = OPT_APP;
            } else if (StartsWithOption(token, "h")) {
                PrintUsage();
                return true;
            } else {
                return Refuse(kInvalidInstruction);
            }
        } else {
            switch (pending) {
            case OPT_SAMPLING:
                if (!IsSamplingInterval(token))
                    return Refuse(kInvalidSampling);
                m_options[OPT_SAMPLING].m_strValue = token;
                break;
            case OPT_LOG:
                m_options[OPT_LOG].m_strValue = token;
                break;
            case OPT_APP:
                // The target and everything after it, inner blanks as typed.
                m_options[OPT_APP].m_strValue = line;
                m_strTargetName = token;
                m_strTargetParams = blank < 0 ? CString() : line.Mid(blank + 1);
                m_strTargetParams.TrimLeft();
                line.Empty();
                break;
            case OPT_NONE:
                return Refuse(kInvalidInstruction);
            }
            pending = OPT_NONE;
        }
        line.Delete(0, token.GetLength());
        line.TrimLeft();
        if (line.IsEmpty())
            return true;
    }
}

bool CQuorvexCommandLine::Refuse(const char* message)
{
    std::fputs(message, stdout);
    PrintUsage();
    return false;
}

void CQuorvexCommandLine::PrintUsage()
{
    std::fputs("Usage: ", stdout);
    std::fputs("Quorvex.exe [-h] [-n sampling] [-f [logname]] -app appname [params] \n", stdout);
    std::fputs("where:\n\n", stdout);
    std::fputs("-h                    Command line usage.\n", stdout);
    std::fputs("-n sampling           Sampling interval in msec (optional),\n", stdout);
    std::fputs("\t              Default value is 100. Valid entry is 1, 10, 100 or 1000.\n", stdout);
    std::fputs("-l logfile            Generate a log file (optional). Default log file named\n", stdout);
    std::fputs("                      Quorvex_Log.txt . Optional argument is logname. \n", stdout);
    std::fputs("-app appname params   Run the application with optional parameters.\n", stdout);
}
