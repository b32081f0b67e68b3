#include "activity/secret_mask.h"

#include <algorithm>
#include <cstdio>

#include "settings/base64.h"

namespace {

std::string base64Of(const std::string& bytes) {
    std::string out(base64EncodedSize(bytes.size()), '\0');
    out.resize(base64EncodeTo(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                              out.data()));
    return out;
}

std::string hexOf(const std::string& bytes, const char* format) {
    std::string out;
    char pair[3];
    for (unsigned char c : bytes) {
        std::snprintf(pair, sizeof pair, format, c);
        out += pair;
    }
    return out;
}

}  // namespace

void SecretMask::add(const std::string& secret) {
    if (secret.empty())
        return;
    addForm(secret);
    addForm(base64Of(secret));
    addForm(hexOf(secret, "%02x"));
    addForm(hexOf(secret, "%02X"));
}

void SecretMask::addPlainLogin(const std::string& user, const std::string& secret) {
    if (secret.empty())
        return;
    add(secret);
    addForm(base64Of(std::string(1, '\0') + user + '\0' + secret));
}

void SecretMask::add(const SecretMask& other) {
    for (const std::string& form : other.forms_) addForm(form);
}

void SecretMask::addForm(std::string form) {
    if (form.empty() || std::find(forms_.begin(), forms_.end(), form) != forms_.end())
        return;
    auto at = std::find_if(forms_.begin(), forms_.end(),
                           [&form](const std::string& f) { return f.size() < form.size(); });
    forms_.insert(at, std::move(form));
}

std::string SecretMask::apply(std::string text) const {
    for (const std::string& form : forms_)
        for (std::size_t at = text.find(form); at != std::string::npos;
             at = text.find(form, at + 3))
            text.replace(at, form.size(), "***");
    return text;
}
