// The session's command loop.
#include "tools/session.h"

#include "tools/cli_options.h"

namespace linkrelay::cli {

namespace {

constexpr const char* prompt = "linkrelay> ";

} // namespace

int Session::run(std::istream& in, bool script) {
    feed.start();
    int result = ExitSuccess;
    std::string line;
    while (!quitRequested) {
        if (!script) {
            printer.prompt(prompt);
        }
        if (!std::getline(in, line)) {
            break;
        }
        if (script) {
            printer.note("> " + line);
        }
        int code = ExitSuccess;
        try {
            execute(line);
        } catch (const UsageError& error) {
            code = report(error, ExitUsage);
        } catch (const ClientError& error) {
            if (error.kind() != ClientErrorKind::Timeout) {
                result = endedByService(error);
                break;
            }
            code = report(error, ExitTimeout);
        } catch (const std::invalid_argument& error) {
            code = report(error, ExitUsage);
        }
        if (script && code != ExitSuccess) {
            result = code;
            break;
        }
    }
    feed.stop();
    return result;
}

int Session::report(const std::exception& error, int code) {
    printer.error(error.what());
    return code;
}

int Session::endedByService(const ClientError& error) {
    feed.stop();
    // The event thread reports the failure that ended it; any other is reported here.
    if (!feed.failed()) {
        printer.error(error.what());
    }
    return exitCodeOf(error.kind());
}

void Session::execute(const std::string& line) {
    std::string error;
    const std::optional<Words> words = splitCommandLine(line, error);
    if (!words) {
        throw UsageError(error);
    }
    if (words->empty()) {
        return;
    }
    const auto handler = handlers().find(words->front().text);
    if (handler == handlers().end()) {
        throw UsageError("unknown command \"" + words->front().text + "\" (try help)");
    }
    feed.checkFailure();
    (this->*(handler->second))(Words(words->begin() + 1, words->end()));
}

const std::map<std::string, Session::Handler>& Session::handlers() {
    static const std::map<std::string, Handler> table = {
        {"connect", &Session::connectCommand},   {"services", &Session::servicesCommand},
        {"chars", &Session::charsCommand},       {"read", &Session::readCommand},
        {"write", &Session::writeCommand},       {"notify", &Session::notifyCommand},
        {"indicate", &Session::indicateCommand}, {"unsubscribe", &Session::unsubscribeCommand},
        {"rssi", &Session::rssiCommand},         {"disconnect", &Session::disconnectCommand},
        {"scan", &Session::scanCommand},         {"wait", &Session::waitCommand},
        {"sleep", &Session::sleepCommand},       {"help", &Session::helpCommand},
        {"quit", &Session::quitCommand},         {"exit", &Session::quitCommand},
    };
    return table;
}

} // namespace linkrelay::cli
