#pragma once
// libcurl, opened at the first upload rather than at the program's start: with its TLS, Kerberos
// and LDAP dependencies it takes longer to load than the tool's whole window takes to appear, and
// most runs never upload anything.

#include <QString>
#include <curl/curl.h>

namespace crash::http {

// The functions the uploads call, bound from the loaded library, and its initialisation, which
// LoadCurl runs.
struct CurlLibrary
{
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_easy_init) easy_init = nullptr;
    decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&::curl_easy_reset) easy_reset = nullptr;
    decltype(&::curl_easy_setopt) easy_setopt = nullptr;
    decltype(&::curl_easy_perform) easy_perform = nullptr;
    decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&::curl_easy_strerror) easy_strerror = nullptr;
    decltype(&::curl_slist_append) slist_append = nullptr;
    decltype(&::curl_slist_free_all) slist_free_all = nullptr;
};

// The library, loaded and initialised by the first call from whichever thread; null, with the
// reason in `error`, when it cannot be loaded, lacks a function or does not initialise.
const CurlLibrary* LoadCurl(QString* error);

} // namespace crash::http
