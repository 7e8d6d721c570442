#include "platform/Errors.h"

#include "platform/MessageTarget.h"
#include "platform/Messages.h"

std::string ErrorText(const std::exception& error) {
  if (auto* own = dynamic_cast<const Exception*>(&error)) return own->Message();
  return error.what();
}

void Guarded(const std::function<void()>& entry) {
  try {
    entry();
  } catch (const std::exception& error) {
    ShowMessage(ErrorText(error));
  }
}

void Guarded(THandlerOwner& owner, const std::function<void()>& entry) {
  THandlerScope scope(owner);
  Guarded(entry);
}
