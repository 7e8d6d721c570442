// The one error type of the system and the guard between the Qt event loop
// and the system.  Every failure is an Exception carrying its French text in
// Windows-1252 bytes; Guarded() is the only place that catches it on the way
// back to Qt, and shows the text in the error box.
#pragma once

#include <exception>
#include <functional>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}

  // The text in Windows-1252, as the system shows and sends it.
  const std::string& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

// Runs one entry from the event loop into the system (a socket notification,
// a timer tick, an input event, a click).  An error that escapes it is shown
// in the error box and the program goes on: Qt never sees an exception.
void Guarded(const std::function<void()>& entry);
// The same for an entry into the handlers of owner (a window, a connection):
// owner is not destroyed before the entry returns, and the error box is
// owner's own (one at a time).
class THandlerOwner;
void Guarded(THandlerOwner& owner, const std::function<void()>& entry);

// The text of any exception as the error box shows it.
std::string ErrorText(const std::exception& error);
