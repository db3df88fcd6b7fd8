#pragma once

#include <memory>

class DNYoutubeNode;

// What the download list asks of its owner (the downloader window). Every
// operation does nothing unless overridden.
class NXYoutubeViewDelegate {
public:
    using Node = std::shared_ptr<DNYoutubeNode>;

    virtual ~NXYoutubeViewDelegate() = default;
    virtual void selectYoutubeNode(const Node&) { }
    virtual void playYoutubeNode(const Node&) { }
    virtual void removeYoutubeNode(const Node&) { }
    virtual void skippedYoutubeNode(const Node&) { }
};
