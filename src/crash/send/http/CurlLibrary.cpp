#include "crash/send/http/CurlLibrary.h"

#include "platform/SharedLibrary.h"

namespace crash::http {

namespace {

QString g_loadFailure; // written once, by the call that loads

const CurlLibrary* Load()
{
    const char* const fileName = SKINTOOL_CURL_LIBRARY;
    const platform::SharedLibrary library = platform::SharedLibrary::open(fileName, &g_loadFailure);
    if (!library.isLoaded())
        return nullptr;
    static CurlLibrary curl;
    bool complete = true;
    const auto bind = [&](auto& function, const char* name) {
        if (!library.bind(function, name) && complete) {
            complete = false;
            g_loadFailure =
                QStringLiteral("%1 has no function %2").arg(QLatin1String(fileName), QLatin1String(name));
        }
    };
    decltype(&::curl_global_init) globalInit = nullptr;
    bind(globalInit, "curl_global_init");
    bind(curl.easy_init, "curl_easy_init");
    bind(curl.easy_cleanup, "curl_easy_cleanup");
    bind(curl.easy_reset, "curl_easy_reset");
    bind(curl.easy_setopt, "curl_easy_setopt");
    bind(curl.easy_perform, "curl_easy_perform");
    bind(curl.easy_getinfo, "curl_easy_getinfo");
    bind(curl.easy_strerror, "curl_easy_strerror");
    bind(curl.slist_append, "curl_slist_append");
    bind(curl.slist_free_all, "curl_slist_free_all");
    if (!complete)
        return nullptr;
    if (globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        g_loadFailure = QStringLiteral("%1 could not be initialised").arg(QLatin1String(fileName));
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
