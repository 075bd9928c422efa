#pragma once

#include "layout/ZNFLayoutEvent.h"

#include <functional>
#include <memory>

// Hands every event it is given to a callable of the owner's.
class ZNFLayoutBlockBasedHandler : public ZNFLayoutEventHandling {
public:
    using Block = std::function<void(const std::shared_ptr<ZNFLayoutEvent>& event)>;

    ZNFLayoutBlockBasedHandler() = default;
    explicit ZNFLayoutBlockBasedHandler(Block block) : m_block(std::move(block)) {}
    static std::shared_ptr<ZNFLayoutBlockBasedHandler> handlerWithBlock(Block block);

    const Block& block() const { return m_block; }
    void setBlock(Block block) { m_block = std::move(block); }

    // Does nothing without a callable.
    void handleEvent(const std::shared_ptr<ZNFLayoutEvent>& event) override;

private:
    Block m_block;
};
