#include "layout/ZNFLayoutBlockBasedHandler.h"

std::shared_ptr<ZNFLayoutBlockBasedHandler> ZNFLayoutBlockBasedHandler::handlerWithBlock(Block block) {
    return std::make_shared<ZNFLayoutBlockBasedHandler>(std::move(block));
}

void ZNFLayoutBlockBasedHandler::handleEvent(const std::shared_ptr<ZNFLayoutEvent>& event) {
    // A copy: the callable may replace itself (or drop this handler) while it runs.
    const Block block = m_block;
    if (block)
        block(event);
}
