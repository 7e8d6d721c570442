// Handler owners: a window or a connection asked to end while one of its
// handlers is on the stack (a box's event loop under it) ends only as the
// last of them returns; and a box belongs to the owners of the event under
// it, so a text raised for one of them while it is open opens no other box.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/MessageTarget.h"
#include "platform/Messages.h"

namespace {

// Counts its ends instead of deleting itself.
class TOwner : public THandlerOwner {
 public:
  int Ends = 0;

 protected:
  void Destroy() override { ++Ends; }
};

}  // namespace

TEST(HandlerOwner, AnOwnerAskedToEndUnderItsHandlersEndsAsTheLastReturns) {
  TOwner owner;
  {
    THandlerScope outer(owner);
    {
      THandlerScope inner(owner);  // a second event, in a box's event loop
      owner.Dispose();
      owner.Dispose();
      EXPECT_EQ(owner.Ends, 0);
      EXPECT_TRUE(owner.Ending());
    }
    EXPECT_EQ(owner.Ends, 0) << "the first handler is still on the stack";
  }
  EXPECT_EQ(owner.Ends, 1);
  EXPECT_FALSE(owner.Handling());

  owner.Dispose();
  EXPECT_EQ(owner.Ends, 2) << "no handler runs: at once";

  // An end asked for by other means (a deferred deletion) is put off the
  // same way, and only while a handler runs.
  EXPECT_FALSE(owner.PostponeEnd());
  {
    THandlerScope handling(owner);
    EXPECT_TRUE(owner.PostponeEnd());
  }
  EXPECT_EQ(owner.Ends, 3);

  // Through the guard: the error is shown while the owner still lives.
  TMessageCapture boxes;
  Guarded(owner, [&] {
    owner.Dispose();
    throw std::runtime_error("perdu");
  });
  EXPECT_EQ(boxes.Texts, std::vector<std::string>{"perdu"});
  EXPECT_EQ(owner.Ends, 4);

  // An owner destroyed directly under its handler leaves the scope ownerless.
  auto* doomed = new TOwner;
  {
    THandlerScope handling(*doomed);
    delete doomed;
    EXPECT_EQ(handling.Owner(), nullptr);
  }
}

TEST(HandlerOwner, OneBoxPerOwnerAndTextsRaisedUnderItShowNone) {
  TOwner window, connection, other;
  std::vector<std::string> shown;
  // The hook stands for the box: what it does happens in the box's loop.
  std::function<void()> underBox;
  TMessageHook previous = SetMessageHook([&](const std::string& text) {
    shown.push_back(text);
    if (!underBox) return;
    auto run = std::move(underBox);
    underBox = nullptr;
    run();
  });
  underBox = [&] {
    {
      THandlerScope next(window);  // the window's next event
      ShowMessage("second");
      THandlerScope deeper(connection);
      ShowMessage("third");
    }
    {
      THandlerScope event(other);  // another window of the process
      ShowMessage("other");
    }
    ShowMessage("outside");  // no handler of anyone
  };
  {
    THandlerScope event(window);
    THandlerScope handler(connection);
    ShowMessage("first");
    ShowMessage("after");  // the first box is closed again
  }
  SetMessageHook(std::move(previous));
  EXPECT_EQ(shown, (std::vector<std::string>{"first", "other", "outside", "after"}));
}

// A game joined from a terminal leaves the text of each failure box there
// too; without the echo a box is the only place its text goes.
TEST(Messages, BoxTextsAreEchoedOnStandardErrorOnlyWhileAsked) {
  TMessageCapture boxes;
  testing::internal::CaptureStderr();
  ShowMessage("Connexion impossible");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EchoMessagesOnStandardError(true);
  testing::internal::CaptureStderr();
  ShowMessage(
      "Connexion refus\xE9"
      "e");
  const std::string echoed = testing::internal::GetCapturedStderr();
  EchoMessagesOnStandardError(false);
  EXPECT_NE(echoed.find("Connexion refus"), std::string::npos) << echoed;
  EXPECT_EQ(echoed.back(), '\n');
  EXPECT_EQ(boxes.Texts, (std::vector<std::string>{"Connexion impossible",
                                                   "Connexion refus\xE9"
                                                   "e"}))
      << "the box is shown as ever";
}
