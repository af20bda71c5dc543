#include "platform/ProxyDiscovery.h"

#include <proxy.h>

namespace platform {

QStringList DiscoverProxies(const QString& url)
{
    QStringList result;
    pxProxyFactory* factory = px_proxy_factory_new();
    if (!factory)
        return result;
    const QByteArray address = url.toUtf8();
    if (char** proxies = px_proxy_factory_get_proxies(factory, address.constData())) {
        for (int i = 0; proxies[i]; ++i)
            result << QString::fromUtf8(proxies[i]);
        px_proxy_factory_free_proxies(proxies);
    }
    px_proxy_factory_free(factory);
    return result;
}

} // namespace platform
