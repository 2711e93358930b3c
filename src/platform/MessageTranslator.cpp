#include "platform/MessageTranslator.h"

#include <atomic>

namespace kestrix {

namespace {
std::atomic<MessageTranslator> currentTranslator{nullptr};
}

void SetMessageTranslator(MessageTranslator translator)
{
    currentTranslator.store(translator);
}

std::string TranslateMessage(std::string_view english)
{
    const MessageTranslator translator = currentTranslator.load();
    return translator ? translator(english) : std::string(english);
}

} // namespace kestrix
