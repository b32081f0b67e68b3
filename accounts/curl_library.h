#pragma once

#include <curl/curl.h>

#include <string>

// libcurl, loaded on first use: a robot that never fetches an OAuth2 token does not load it, nor
// the two dozen libraries it brings (its TLS, Kerberos, LDAP ...), at start. The functions are
// libcurl's own, taken from libcurl.so.4.
struct CurlLibrary {
    CURL* (*easyInit)();
    void (*easyCleanup)(CURL*);
    CURLcode (*easySetopt)(CURL*, CURLoption, ...);
    CURLcode (*easyPerform)(CURL*);
    CURLcode (*easyGetinfo)(CURL*, CURLINFO, ...);
    const char* (*easyStrerror)(CURLcode);
    char* (*easyEscape)(CURL*, const char*, int);
    void (*free)(void*);
    curl_slist* (*slistAppend)(curl_slist*, const char*);
    void (*slistFreeAll)(curl_slist*);
};

// The library, loaded at the first call; nullptr, with the reason in error, when it cannot be.
const CurlLibrary* curlLibrary(std::string& error);
