#include "fetch.h"

#include <curl/curl.h>

#include "errors.h"

namespace tarn {

namespace {

constexpr size_t kMaxFetch = 4 << 20;

size_t append(char *data, size_t size, size_t count, void *out) {
    std::string &text = *static_cast<std::string *>(out);
    const size_t n = size * count;
    if (text.size() + n > kMaxFetch)
        return 0;  // curl then reports a write error
    text.append(data, n);
    return n;
}

// Field `index` of a tab-separated dump line.
std::string_view fieldOf(std::string_view line, size_t index) {
    for (; index > 0; --index) {
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
            return {};
        line.remove_prefix(tab + 1);
    }
    return line.substr(0, line.find('\t'));
}

}  // namespace

std::string urlPath(std::string_view file) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : file) {
        const auto b = static_cast<unsigned char>(c);
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alnum || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
    }
    return out;
}

std::string fetchFile(const std::string &scheme,
                      const std::string &server,
                      const std::string &file,
                      double seconds) {
    const bool v6 = server.find(':') != std::string::npos;
    const std::string url =
        scheme + "://" + (v6 ? "[" + server + "]" : server) + "/" + urlPath(file);
    static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL *curl = init == CURLE_OK ? curl_easy_init() : nullptr;
    if (curl == nullptr)
        throw UsageError("cannot start the file download (libcurl).");
    std::string body;
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "tftp,http");
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(seconds * 1000));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK)
        throw UsageError("cannot read " + url + ": " + (error[0] ? error : curl_easy_strerror(rc)) +
                         ".");
    return body;
}

std::optional<Mac> backupOwner(std::string_view file) {
    while (!file.empty()) {
        const size_t end = file.find('\n');
        const std::string_view line = file.substr(0, end);
        file.remove_prefix(end == std::string_view::npos ? file.size() : end + 1);
        if (fieldOf(line, 0) == "management" && fieldOf(line, 1) == "-" &&
            fieldOf(line, 2) == "-" && fieldOf(line, 3) == "mac")
            return parseMac(fieldOf(line, 4));
    }
    return std::nullopt;
}

}  // namespace tarn
