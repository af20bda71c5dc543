#include "crash/send/http/CurlLibrary.h"

#include "platform/SharedLibrary.h"

namespace crash::http {

const CurlLibrary* LoadCurl(QString* error)
{
    static QString failure; // written once, by the call that loads
    static const CurlLibrary* const loaded = []() -> const CurlLibrary* {
        const CurlLibrary* const curl = platform::BoundOnce<CurlLibrary>(
            SKINTOOL_CURL_LIBRARY,
            [](platform::SharedLibrary& library, CurlLibrary& table) {
                return library.bind(table.global_init, "curl_global_init") &&
                       library.bind(table.easy_init, "curl_easy_init") &&
                       library.bind(table.easy_cleanup, "curl_easy_cleanup") &&
                       library.bind(table.easy_reset, "curl_easy_reset") &&
                       library.bind(table.easy_setopt, "curl_easy_setopt") &&
                       library.bind(table.easy_perform, "curl_easy_perform") &&
                       library.bind(table.easy_getinfo, "curl_easy_getinfo") &&
                       library.bind(table.easy_strerror, "curl_easy_strerror") &&
                       library.bind(table.slist_append, "curl_slist_append") &&
                       library.bind(table.slist_free_all, "curl_slist_free_all");
            },
            &failure);
        if (curl && curl->global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            failure = QStringLiteral("%1 could not be initialised").arg(QLatin1String(SKINTOOL_CURL_LIBRARY));
            return nullptr;
        }
        return curl;
    }();
    if (!loaded && error)
        *error = failure;
    return loaded;
}

} // namespace crash::http
