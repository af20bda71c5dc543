#include "crash/send/http/CurlLibrary.h"

#include "platform/SharedLibrary.h"

namespace crash::http {

namespace {

QString g_loadFailure; // written once, by the call that loads

const CurlLibrary* Load()
{
    platform::SharedLibrary library = platform::SharedLibrary::open(SKINTOOL_CURL_LIBRARY, &g_loadFailure);
    if (!library.isLoaded())
        return nullptr;
    static CurlLibrary curl;
    decltype(&::curl_global_init) globalInit = nullptr;
    const bool complete = library.bind(globalInit, "curl_global_init") &&
                          library.bind(curl.easy_init, "curl_easy_init") &&
                          library.bind(curl.easy_cleanup, "curl_easy_cleanup") &&
                          library.bind(curl.easy_reset, "curl_easy_reset") &&
                          library.bind(curl.easy_setopt, "curl_easy_setopt") &&
                          library.bind(curl.easy_perform, "curl_easy_perform") &&
                          library.bind(curl.easy_getinfo, "curl_easy_getinfo") &&
                          library.bind(curl.easy_strerror, "curl_easy_strerror") &&
                          library.bind(curl.slist_append, "curl_slist_append") &&
                          library.bind(curl.slist_free_all, "curl_slist_free_all");
    if (!complete) {
        g_loadFailure = library.missingFunctionText();
        return nullptr;
    }
    if (globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        g_loadFailure =
            QStringLiteral("%1 could not be initialised").arg(QLatin1String(SKINTOOL_CURL_LIBRARY));
        return nullptr;
    }
    return &curl;
}

} // namespace

const CurlLibrary* LoadCurl(QString* error)
{
    static const CurlLibrary* const loaded = Load();
    if (!loaded && error)
        *error = g_loadFailure;
    return loaded;
}

} // namespace crash::http
