#include <algorithm>
#include <cctype>
#include <vector>

#include "cli/counter/Odbc.h"

namespace kx::cli::odbc {
namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The secret values of a connection string: KEY=value; pairs, a value maybe in braces
// (where "}}" stands for "}").
std::vector<std::string> Secrets(std::string_view connection) {
    std::vector<std::string> secrets;
    std::size_t at = 0;
    while (at < connection.size()) {
        const std::size_t equals = connection.find('=', at);
        if (equals == std::string_view::npos) {
            break;
        }
        std::string key = Lower(connection.substr(at, equals - at));
        key.erase(0, key.find_first_not_of(" \t"));
        key.erase(key.find_last_not_of(" \t") + 1);
        std::string value;
        std::size_t end = equals + 1;
        if (end < connection.size() && connection[end] == '{') {
            for (++end; end < connection.size(); ++end) {
                if (connection[end] == '}') {
                    if (end + 1 < connection.size() && connection[end + 1] == '}') {
                        value += '}';
                        ++end;
                        continue;
                    }
                    ++end;
                    break;
                }
                value += connection[end];
            }
            end = std::min(connection.find(';', end), connection.size());
        } else {
            end = std::min(connection.find(';', end), connection.size());
            value = std::string(connection.substr(equals + 1, end - equals - 1));
        }
        if ((key == "pwd" || key == "password") && !value.empty()) {
            secrets.push_back(value);
            // The raw spelling too (braces and doubled "}" included).
            secrets.emplace_back(connection.substr(equals + 1, end - equals - 1));
        }
        at = end + 1;
    }
    // Longest first, so that a secret holding another is masked whole.
    std::sort(secrets.begin(), secrets.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    return secrets;
}

}  // namespace

std::string MaskSecrets(std::string_view text, std::string_view connection) {
    std::string out(text);
    for (const std::string& secret : Secrets(connection)) {
        for (std::size_t at = out.find(secret); at != std::string::npos;
             at = out.find(secret, at + 3)) {
            out.replace(at, secret.size(), "***");
        }
    }
    // A connection string quoted in `text` (even another one's) keeps no password either.
    const std::string lower = Lower(out);
    std::string masked;
    std::size_t from = 0;
    for (std::size_t i = 0; i < out.size();) {
        const bool pwd = lower.compare(i, 4, "pwd=") == 0;
        const bool password = lower.compare(i, 9, "password=") == 0;
        const bool keyStart = i == 0 || !std::isalnum(static_cast<unsigned char>(out[i - 1]));
        if ((pwd || password) && keyStart) {
            const std::size_t valueAt = i + (pwd ? 4 : 9);
            std::size_t end = out.find(';', valueAt);
            if (valueAt < out.size() && out[valueAt] == '{') {
                const std::size_t close = out.find('}', valueAt);
                end = close == std::string::npos ? close : out.find(';', close);
            }
            end = std::min(end, out.size());
            // A space ends a value quoted inside a sentence, unless it was braced.
            if (valueAt >= out.size() || out[valueAt] != '{') {
                end = std::min(end, std::min(out.find(' ', valueAt), out.size()));
            }
            masked += out.substr(from, valueAt - from) + "***";
            from = i = end;
            continue;
        }
        ++i;
    }
    masked += out.substr(std::min(from, out.size()));
    return masked;
}

}  // namespace kx::cli::odbc
