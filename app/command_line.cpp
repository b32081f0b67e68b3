#include "app/command_line.h"

#include <climits>
#include <cstdlib>

#include "accounts/set_password.h"

namespace {

bool parsePositiveInt(const std::string& text, int& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v < 1 || v > INT_MAX || text.size() > 10)
        return false;
    value = static_cast<int>(v);
    return true;
}

CommandLine fail(std::string message) {
    CommandLine c;
    c.mode = CommandLine::Mode::Error;
    c.error = std::move(message);
    return c;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine c;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto takeValue = [&](std::string& value) {
            if (a.find('=') != std::string::npos) {
                value = a.substr(a.find('=') + 1);
                return true;
            }
            if (i + 1 >= args.size())
                return false;
            value = args[++i];
            return true;
        };
        std::string name = a.substr(0, a.find('='));
        if (a == "--help" || a == "-h") {
            c.mode = CommandLine::Mode::Help;
            return c;
        } else if (a == "--version") {
            c.mode = CommandLine::Mode::Version;
            return c;
        } else if (a == "--headless") {
            c.mode = CommandLine::Mode::Headless;
        } else if (a == "--once") {
            c.mode = CommandLine::Mode::Once;
        } else if (a == "--check") {
            c.mode = CommandLine::Mode::Check;
        } else if (a == "--authorize") {
            c.mode = CommandLine::Mode::Authorize;
        } else if (name == "--set-password") {
            c.mode = CommandLine::Mode::SetPassword;
            if (!takeValue(c.secretName) || !isSecretName(c.secretName))
                return fail("option --set-password needs pop, smtp or oauth2-client-secret");
        } else if (a == "--verbose" || a == "-v") {
            c.verbose = true;
        } else if (a == "--level-prefix") {
            c.levelPrefix = true;
        } else if (name == "--metrics-file") {
            if (!takeValue(c.metricsFile) || c.metricsFile.empty())
                return fail("option --metrics-file needs a file name");
        } else if (name == "--config-dir") {
            if (!takeValue(c.configDir) || c.configDir.empty())
                return fail("option --config-dir needs a directory");
        } else if (name == "--max-lines-per-mail") {
            std::string value;
            if (!takeValue(value) || !parsePositiveInt(value, c.maxLinesPerMail))
                return fail("option --max-lines-per-mail needs a whole number above 0");
        } else if (name == "--max-recipients") {
            std::string value;
            if (!takeValue(value) || !parsePositiveInt(value, c.maxRecipients))
                return fail("option --max-recipients needs a whole number above 0");
        } else if (name == "--keep-days") {
            std::string value;
            if (!takeValue(value) || !parsePositiveInt(value, c.keepDays))
                return fail("option --keep-days needs a whole number of days above 0");
        } else if (name == "--tick-ms") {
            std::string value;
            if (!takeValue(value) || !parsePositiveInt(value, c.tickMs))
                return fail("option --tick-ms needs a whole number of milliseconds above 0");
        } else {
            return fail("unknown option '" + a + "'");
        }
    }
    bool headless = c.mode == CommandLine::Mode::Headless || c.mode == CommandLine::Mode::Once;
    if (!headless && !c.metricsFile.empty())
        return fail("option --metrics-file needs --headless or --once");
    if (!headless && c.levelPrefix)
        return fail("option --level-prefix needs --headless or --once");
    if (!headless && c.mode != CommandLine::Mode::Check && c.verbose)
        return fail("option --verbose needs --headless, --once or --check");
    return c;
}

const char* usageText() {
    return "Usage: tarnwick [--headless | --once | --check] [--config-dir DIR] [--tick-ms N]\n"
           "       tarnwick --authorize [--config-dir DIR]\n"
           "       tarnwick --set-password pop|smtp|oauth2-client-secret [--config-dir DIR]\n"
           "                [--metrics-file PATH] [--level-prefix] [--verbose]\n"
           "                [--max-lines-per-mail N] [--max-recipients N] [--keep-days N]\n"
           "\n"
           "  (no mode)         open the desktop window\n"
           "  --headless        run the robot without a window; the activity list goes to\n"
           "                    stdout; SIGTERM or SIGINT ends it, SIGUSR1 asks for a mail\n"
           "                    check, SIGHUP reads tarnwick.ini and the recorder\n"
           "                    configurations again\n"
           "  --once            check the mailbox once, serve every request, retry unsent\n"
           "                    replies, then exit: 0 all replies sent, 1 the mail check\n"
           "                    or the spool failed, 2 a reply was given up; 4 (also\n"
           "                    --headless) SIGTERM or SIGINT stopped it with work left in\n"
           "                    the spool\n"
           "  --check           test the settings, the recorder configurations and the logins\n"
           "                    to both mail servers (nothing deleted, nothing sent); one line\n"
           "                    per step; exit 0 all passed, 1 one failed\n"
           "  --authorize       sign in once for the OAuth2 refresh_token grant (device code):\n"
           "                    prints where to sign in, waits, keeps the refresh token in\n"
           "                    oauth2-refresh-token; exit 0 signed in, 1 not\n"
           "  --set-password WHICH  read one line from stdin (not echoed) and write it to\n"
           "                    tarnwick.ini as the pop or smtp password or the OAuth2 client\n"
           "                    secret\n"
           "  --config-dir DIR  where tarnwick.ini and tarnwick.log live (default: for a\n"
           "                    program installed under /usr, $XDG_CONFIG_HOME/tarnwick or\n"
           "                    ~/.config/tarnwick; else the directory of the executable)\n"
           "  --tick-ms N       length of one tick in milliseconds (default 1000)\n"
           "  --max-lines-per-mail N  request lines served from one mail; the rest are\n"
           "                    refused (default 20)\n"
           "  --max-recipients N  recipients one request line may name; a line with more is\n"
           "                    refused (default 5)\n"
           "  --keep-days N     days the spool keeps its bad/, undelivered/ and set-aside/\n"
           "                    entries (default 30)\n"
           "  --metrics-file PATH  keep the counters and the health of the run in PATH, in the\n"
           "                    Prometheus text format (--headless, --once)\n"
           "  --level-prefix    begin each list line with its syslog level: <3> for a failure,\n"
           "                    <4> for a warning, <5> for a notice (all three also go to\n"
           "                    tarnwick.log), <6> for the rest; on by itself when stdout is\n"
           "                    the journal (--headless, --once)\n"
           "  --verbose, -v     show each mail dialogue on stderr: the commands sent and the\n"
           "                    replies read, with the connections, TLS and the OAuth2\n"
           "                    token steps; passwords, tokens and the base64 of a login\n"
           "                    shown as **** (--headless, --once, --check)\n"
           "  --version         print the version and exit\n"
           "  --help            print this text and exit\n";
}
