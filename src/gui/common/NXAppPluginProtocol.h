#pragma once

#include <QStringList>

// A tool window (downloader, recorders) that hands files to the conversion
// list when it closes.
class NXAppPluginProtocol {
public:
    virtual ~NXAppPluginProtocol() = default;
    // The files to add to the list; empty for none.
    virtual QStringList fileListNeedToConvert() = 0;
};
