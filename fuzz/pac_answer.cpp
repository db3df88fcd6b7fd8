// What comes back from a proxy auto-configuration script: its answer string
// ("PROXY a:1; SOCKS b; DIRECT"), read as the evaluator reads the sandbox's
// reply, and the script bytes as fetched, decoded before they are run.
#include "FuzzSupport.h"

#include "http/NXPACEvaluator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = Fuzz::bytesOf(data, size);
    const QList<ProxySettings> proxies
        = NXPACEvaluator::parseResult(QString::fromStdString(bytes.toStdString()));
    for (const ProxySettings& proxy : proxies) {
        Fuzz::require(proxy.kind == ProxySettings::Kind::None || proxy.isSet(),
            "a proxy without a host or a port");
    }
    NXPACEvaluator::decodeScript(bytes);
    return 0;
}
