#include "platform/ProxyDiscovery.h"

#include "platform/SharedLibrary.h"

#include <proxy.h>

namespace platform {

namespace {

// libproxy is opened at the first discovery (an upload), not with the program: loading it and
// its module manager is start-up work for something most runs never do.
struct ProxyLibrary
{
    decltype(&::px_proxy_factory_new) factory_new = nullptr;
    decltype(&::px_proxy_factory_get_proxies) get_proxies = nullptr;
    decltype(&::px_proxy_factory_free_proxies) free_proxies = nullptr;
    decltype(&::px_proxy_factory_free) factory_free = nullptr;
};

const ProxyLibrary* LoadProxy()
{
    return BoundOnce<ProxyLibrary>(SKINTOOL_PROXY_LIBRARY, [](SharedLibrary& library, ProxyLibrary& proxy) {
        return library.bind(proxy.factory_new, "px_proxy_factory_new") &&
               library.bind(proxy.get_proxies, "px_proxy_factory_get_proxies") &&
               library.bind(proxy.free_proxies, "px_proxy_factory_free_proxies") &&
               library.bind(proxy.factory_free, "px_proxy_factory_free");
    });
}

} // namespace

QStringList DiscoverProxies(const QString& url)
{
    QStringList result;
    const ProxyLibrary* const proxy = LoadProxy();
    if (!proxy)
        return result;
    pxProxyFactory* factory = proxy->factory_new();
    if (!factory)
        return result;
    const QByteArray address = url.toUtf8();
    if (char** proxies = proxy->get_proxies(factory, address.constData())) {
        for (int i = 0; proxies[i]; ++i)
            result << QString::fromUtf8(proxies[i]);
        proxy->free_proxies(proxies);
    }
    proxy->factory_free(factory);
    return result;
}

} // namespace platform
