#include "platform/MessageTarget.h"

namespace {
// The open scopes of every owner form one stack, the innermost on top;
// the floor is the top as it was when the innermost open box opened, so
// the scopes above it are those of the event being handled now.
struct THandlerStack {
  THandlerScope* Top = nullptr;
  THandlerScope* Floor = nullptr;
};

THandlerStack& Stack() {
  static THandlerStack stack;
  return stack;
}
}  // namespace

// --- THandlerOwner ---

THandlerOwner::~THandlerOwner() {
  for (THandlerScope* scope = FInnermost; scope; scope = scope->FOuterOfOwner) scope->FOwner = nullptr;
}

void THandlerOwner::Dispose() {
  if (!PostponeEnd()) Destroy();
}

bool THandlerOwner::PostponeEnd() {
  if (!Handling()) return false;
  FEnding = true;
  return true;
}

// --- THandlerScope ---

THandlerScope::THandlerScope(THandlerOwner& owner)
    : FOwner(&owner), FOuterOfOwner(owner.FInnermost), FOuter(Stack().Top) {
  owner.FInnermost = this;
  Stack().Top = this;
}

THandlerScope::~THandlerScope() {
  Stack().Top = FOuter;
  if (!FOwner) return;
  FOwner->FInnermost = FOuterOfOwner;
  if (FOwner->FInnermost || !FOwner->FEnding) return;
  FOwner->FEnding = false;
  FOwner->Destroy();
}

// --- TBoxScope ---

TBoxScope::TBoxScope() : FOuterFloor(Stack().Floor) {
  THandlerStack& stack = Stack();
  for (THandlerScope* scope = stack.Top; scope != stack.Floor && scope; scope = scope->FOuter)
    if (scope->FOwner && scope->FOwner->FBoxOpen) {
      FAllowed = false;
      return;
    }
  for (THandlerScope* scope = stack.Top; scope != stack.Floor && scope; scope = scope->FOuter)
    if (scope->FOwner && !scope->FOwner->FBoxOpen) {
      scope->FOwner->FBoxOpen = true;
      FMarked.push_back(scope);
    }
  stack.Floor = stack.Top;
}

TBoxScope::~TBoxScope() {
  if (!FAllowed) return;
  // The marked scopes enclose the box, so they are still open; an owner
  // destroyed directly meanwhile has left them ownerless.
  for (THandlerScope* scope : FMarked)
    if (scope->FOwner) scope->FOwner->FBoxOpen = false;
  Stack().Floor = FOuterFloor;
}
