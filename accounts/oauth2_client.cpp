#include "accounts/oauth2_client.h"

#include "accounts/curl_library.h"

#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>

namespace {

constexpr std::size_t kMaxAnswer = 1 << 20;

size_t collect(char* data, size_t size, size_t count, void* userData) {
    auto* body = static_cast<std::string*>(userData);
    std::size_t n = size * count;
    if (body->size() + n > kMaxAnswer)
        return 0;  // ends the transfer with an error
    body->append(data, n);
    return n;
}

std::string formText(const CurlLibrary& lib, CURL* curl, const FormFields& form) {
    std::string text;
    for (const auto& [name, value] : form) {
        char* escaped = lib.easyEscape(curl, value.data(), static_cast<int>(value.size()));
        text += (text.empty() ? "" : "&") + name + "=" + (escaped ? escaped : "");
        lib.free(escaped);
    }
    return text;
}

std::string stringField(const nlohmann::json& object, const char* name) {
    auto at = object.find(name);
    return at != object.end() && at->is_string() ? at->get<std::string>() : "";
}

// A number, or a string of digits as some servers send it.
long long numberField(const nlohmann::json& object, const char* name) {
    auto at = object.find(name);
    if (at == object.end())
        return 0;
    if (at->is_number_integer())
        return at->get<long long>();
    if (at->is_string())
        return std::strtoll(at->get<std::string>().c_str(), nullptr, 10);
    return 0;
}

}  // namespace

std::string urlHost(const std::string& url) {
    std::size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    std::size_t end = url.find_first_of(":/?#", start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool parseOAuth2Reply(const std::string& body, OAuth2Reply& reply) {
    nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
    if (answer.is_discarded() || !answer.is_object())
        return false;
    reply.accessToken = stringField(answer, "access_token");
    reply.refreshToken = stringField(answer, "refresh_token");
    reply.expiresIn = numberField(answer, "expires_in");
    reply.error = stringField(answer, "error");
    reply.deviceCode = stringField(answer, "device_code");
    reply.userCode = stringField(answer, "user_code");
    reply.verificationUri = stringField(answer, "verification_uri");
    if (reply.verificationUri.empty())
        reply.verificationUri = stringField(answer, "verification_url");  // an older name
    long long interval = numberField(answer, "interval");
    reply.interval = interval > 0 && interval < 3600 ? static_cast<int>(interval) : 0;
    return true;
}

bool postOAuth2Form(const std::string& url, const FormFields& form, int timeoutMs,
                    OAuth2Reply& reply, std::string& failure) {
    reply = OAuth2Reply{};
    const CurlLibrary* lib = curlLibrary(failure);
    if (!lib)
        return false;
    std::unique_ptr<CURL, void (*)(CURL*)> curl(lib->easyInit(), lib->easyCleanup);
    if (!curl) {
        failure = "cannot start an HTTPS request";
        return false;
    }
    CURL* c = curl.get();
    std::string body, fields = formText(*lib, c, form);
    char curlError[CURL_ERROR_SIZE] = {};
    lib->easySetopt(c, CURLOPT_URL, url.c_str());
    lib->easySetopt(c, CURLOPT_PROTOCOLS_STR, "https");
    lib->easySetopt(c, CURLOPT_POSTFIELDS, fields.c_str());
    lib->easySetopt(c, CURLOPT_WRITEFUNCTION, collect);
    lib->easySetopt(c, CURLOPT_WRITEDATA, &body);
    lib->easySetopt(c, CURLOPT_ERRORBUFFER, curlError);
    lib->easySetopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
    lib->easySetopt(c, CURLOPT_NOSIGNAL, 1L);
    lib->easySetopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    lib->easySetopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    // The trust of the mail servers' TLS: the environment's store when it names one.
    if (const char* file = std::getenv("SSL_CERT_FILE"))
        lib->easySetopt(c, CURLOPT_CAINFO, file);
    if (const char* dir = std::getenv("SSL_CERT_DIR"))
        lib->easySetopt(c, CURLOPT_CAPATH, dir);
    curl_slist* headers = lib->slistAppend(nullptr, "Accept: application/json");
    lib->easySetopt(c, CURLOPT_HTTPHEADER, headers);
    CURLcode result = lib->easyPerform(c);
    lib->slistFreeAll(headers);
    if (result != CURLE_OK) {
        failure = curlError[0] ? curlError : lib->easyStrerror(result);
        return false;
    }
    long status = 0;
    lib->easyGetinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (!parseOAuth2Reply(body, reply)) {
        failure = "HTTP " + std::to_string(status) + " without an OAuth2 answer";
        return false;
    }
    if (status != 200 && reply.error.empty())
        reply.error = "HTTP " + std::to_string(status);
    return true;
}
