#include "client/Clients.h"

#include "audio/Sounds.h"
#include "client/Hearing.h"
#include "client/Journal.h"
#include "effects/GLGui.h"
#include "models/L3D.h"
#include "models/L3DPlayer.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/SocketEvents.h"
#include "platform/Text1252.h"
#include "platform/WinSock.h"

namespace {

// The events a client connection asks for: read, write, connect, close.
constexpr uint32_t ClientEventMask = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
constexpr int StandingMotion = 0;
// The packed integers of a relayed position (id, Reserved, X, Y,
// Direction) and of a relayed walk (id, goal column, row).
constexpr int PositionFields = 5;
constexpr int WalkFields = 3;

// The meshes and textures of a look, in the folder of the characters.
constexpr const char* ModelFolder = "data\\qelt-3d\\";
constexpr const char* RaceMeshFiles[] = {"Humain.L3D", "Elfe.L3D"};
constexpr const char* RaceTextureFiles[] = {"Humain.BMP", "Elfe.BMP"};
constexpr const char* OptionStems[] = {"Barbe", "Oreilles"};
constexpr const char* HairStem = "Cheveux";

// Shows the file's mesh on a textured mesh, holding one reference to it.
void ShowMesh(TTexturedMesh& mesh, const std::string& file) {
  TMesh* loaded = L3DManager.Get(ModelFolder + file);
  mesh.SetMesh(loaded);
  loaded->Release();  // Get's own reference: the textured mesh holds one
  mesh.Visible = true;
}

void ShowTexture(TTexturedMesh& mesh, const std::string& file) {
  mesh.Textures->Clear();
  mesh.Textures->Add(ModelFolder + file);
}

// A walk handing over to a new path at a cell boundary stops only for a
// moment; only a player left standing has ended its walk.
void NoteStop(const TZULPlayer& player, TClientJournal* journal) {
  if (journal && !player.Moving()) journal->Stop(player.Name, player.X, player.Y);
}

}  // namespace

const std::string NoAddressAnswersText = "Aucune adresse du serveur ne répond"_cp;

// --- TZULPlayer2 ---

TZULPlayer2::TZULPlayer2(TMap* map, TZULPlayerList* list, TZULClient* client)
    : TZULPlayer(map, list), Client(client) {}

void TZULPlayer2::MoveStarted() {
  TZULPlayer::MoveStarted();
  const TPoint& goal = PathFinder->Goal();
  Client->IO->SendMessage(MsgWalk, EncodeIntegers({goal.X, goal.Y}));
  if (TClientJournal* journal = Client->Journal()) journal->Goal(Name, goal.X, goal.Y);
}

void TZULPlayer2::MoveStopped() {
  TZULPlayer::MoveStopped();
  Client->IO->SendMessage(MsgPosition, EncodeIntegers({X, Y, Direction}));
  NoteStop(*this, Client->Journal());
}

// --- TRemotePlayer ---

TRemotePlayer::TRemotePlayer(TMap* map, TZULPlayerList* list, TZULClient* client)
    : TZULPlayer(map, list), Client(client) {
  // The model is made with a beard and hair; a player that never sends its
  // look chose nothing on the creation page, where it starts without them.
  BeardMesh->Visible = false;
  HairMesh->Visible = false;
}

void TRemotePlayer::SetLook(const TPlayerLook& look) {
  const std::size_t race = look.Race == LookElf ? 1 : 0;
  if (look.Race != Look.Race) {
    ShowMesh(*RaceMesh, RaceMeshFiles[race]);
    ShowTexture(*RaceMesh, RaceTextureFiles[race]);
  }
  if (look.Hair > 0)
    ShowMesh(*HairMesh, HairStem + std::to_string(look.Hair) + ".L3D");
  else
    HairMesh->Visible = false;
  if (look.Option > 0) {
    // Beards are hair, ears are skin.
    ShowMesh(*BeardMesh, OptionStems[race] + std::to_string(look.Option) + ".L3D");
    ShowTexture(*BeardMesh, race == 1 ? RaceTextureFiles[race] : "Poils.BMP");
  } else {
    BeardMesh->Visible = false;
  }
  Look = look;
}

void TRemotePlayer::MoveStopped() {
  TZULPlayer::MoveStopped();
  NoteStop(*this, Client->Journal());
}

// --- TZULClient ---

TZULClient::TZULClient(TClientOwner& window, uint32_t notification, std::vector<ws::TAddress> addresses,
                       uint16_t port, int attemptMs)
    : TClientSocket(&window, notification, ClientEventMask, std::move(addresses), port, attemptMs),
      FWindow(window) {
  LocalPlayer = new TZULPlayer2(&window.SharedMap(), &Players, this);
  IO = std::make_unique<TZULSocketIO>(this, Handle());
  Bind(MsgError, &TZULClient::HandleRefused);
  Bind(MsgJoin, &TZULClient::HandleWelcome);
  Bind(MsgPlayer, &TZULClient::HandleArrival);
  Bind(MsgChat, &TZULClient::HandleChat);
  Bind(MsgChatAck, &TZULClient::HandleAcknowledge);
  Bind(MsgLeave, &TZULClient::HandleDeparture);
  Bind(MsgPosition, &TZULClient::HandlePosition);
  Bind(MsgWalk, &TZULClient::HandleDestination);
  Bind(MsgLook, &TZULClient::HandleLook);
  Connect();
}

TZULClient::TZULClient(TClientOwner& window, uint32_t notification, uint32_t address, uint16_t port)
    : TZULClient(window, notification, std::vector<ws::TAddress>{ws::InetAddress(address)}, port) {}

void TZULClient::Reopened(TSocketHandle) {
  // Nothing was said on the abandoned socket: the login waits for a
  // connect event.
  IO = std::make_unique<TZULSocketIO>(this, Handle());
}

TZULClient::~TZULClient() {
  while (Players.Count() > 0) DestroyPlayer(Players[Players.Count() - 1]);
  LocalPlayer = nullptr;
}

void TZULClient::SetPassword(const std::string& text) {
  Password = text;
  if (!text.empty()) IO->SendMessage(MsgPassword, text);
}

void TZULClient::SetName(const std::string& text) {
  LocalPlayer->Name = text;
  IO->SendMessage(MsgJoin, text);
}

const std::string& TZULClient::LocalName() const { return LocalPlayer->Name; }

void TZULClient::OfferLook() {
  IO->SendMessage(MsgLook, EncodeLook(Look));
  FLookSent = Look;
}

void TZULClient::SetLook(const TPlayerLook& look) {
  Look = look;
  if (FLookSent && *FLookSent != look && !Disconnected) OfferLook();
}

void TZULClient::Say(const std::string& text) {
  PendingChat.push_back(text);
  IO->SendMessage(MsgChat, text);
}

void TZULClient::Close() {
  if (Disconnected) return;
  Disconnected = true;
  IO->SendMessage(MsgLeave);
}

void TZULClient::Receive() {
  THandlerScope scope(*this);
  if (FStreamFailed) return;
  try {
    IO->Receive();
  } catch (const std::exception& error) {
    // Handlers keep their errors (Bind), so this one is the stream's: the
    // frame at the front can never be read past.  A decoding that waited
    // under a box meets the same frame again: it was reported already.
    if (FStreamFailed) return;
    FStreamFailed = true;
    Disconnected = true;
    FHandlerError.reset();
    ShowMessage(ErrorText(error));
    FWindow.CloseWindow();
    return;
  }
  if (FHandlerError) {
    Exception error = std::move(*FHandlerError);
    FHandlerError.reset();
    throw error;
  }
}

void TZULClient::Bind(int32_t id, void (TZULClient::*handler)(TZULMessage&)) {
  // A failing handler must not leave its frame at the front of the input:
  // every later read would meet it again and nothing after it would ever
  // arrive.  The error is kept and shown once the read is done.
  SetHandler(id, [this, handler](TZULMessage& message) {
    if (Disconnected) return;
    try {
      (this->*handler)(message);
    } catch (const std::exception& error) {
      if (!FHandlerError) FHandlerError.emplace(ErrorText(error));
    }
  });
}

void TZULClient::DefaultHandler(TZULMessage& message) {
  if (Disconnected) return;
  ShowMessage("Message #" + std::to_string(message.MessageId) + " inconnu");
}

void TZULClient::HandleRefused(TZULMessage&) {
  std::string text = IO->ReadString();
  Disconnected = true;
  ShowMessage(text);
  FWindow.CloseWindow();
}

void TZULClient::HandleWelcome(TZULMessage&) {
  LocalPlayer->Id = IO->ReadInteger();
  AddLine("Bonjour " + LocalName(), GreetingColor);
}

void TZULClient::HandleArrival(TZULMessage&) {
  int32_t id = IO->ReadInteger();
  int32_t reserved = IO->ReadInteger();
  int32_t x = IO->ReadInteger();
  int32_t y = IO->ReadInteger();
  int32_t alreadyPresent = IO->ReadInteger();
  std::string name = IO->ReadString();
  if (TZULPlayer* known = Players.Search(id)) {
    // The local player lives as long as the connection; any other player
    // announced again is the same player arriving anew.
    if (known == LocalPlayer)
      return Ignore(MsgPlayer, "joueur #" + std::to_string(id) + " est le joueur local");
    DestroyPlayer(known);
  }
  // The local player is the list's first.
  if (Players.Count() > MaxRemotePlayers)
    throw Exception("Trop de joueurs (" + std::to_string(MaxRemotePlayers) + " au plus)");
  auto* player = new TRemotePlayer(&FWindow.SharedMap(), &Players, this);
  player->Id = id;
  player->Reserved = reserved;
  player->X = x;
  player->Y = y;
  player->Name = name;
  std::string suffix =
      alreadyPresent == 0 ? std::string(" rejoint la partie") : std::string(" est déjà en ligne"_cp);
  AddLine(name + suffix, ArrivalColor);
  if (alreadyPresent == 0) PlayNear(ArrivalFile);
}

void TZULClient::HandleChat(TZULMessage&) {
  TZULPlayer* player = Known(IO->ReadInteger(), MsgChat);
  if (!player) return;
  AddLine(player->Name + ">" + IO->ReadString(), ChatColor);
  if (player != LocalPlayer) PlayNear(ChatBlipFile);
}

void TZULClient::HandleAcknowledge(TZULMessage&) {
  if (PendingChat.empty()) return;
  AddLine(LocalName() + "> " + PendingChat.front(), ChatColor);
  PendingChat.pop_front();
}

void TZULClient::HandleDeparture(TZULMessage&) {
  TZULPlayer* player = Known(IO->ReadInteger(), MsgLeave);
  if (!player) return;
  bool withoutWarning = IO->ReadInteger() == 1;
  AddLine(player->Name + " nous quitte" + (withoutWarning ? std::string(" sans prévenir"_cp) : std::string()),
          ArrivalColor);
  PlayNear(DepartureFile);
  // The local player lives as long as the connection: the screens draw and
  // steer it, so a host naming it here takes only the line.
  if (player != LocalPlayer) DestroyPlayer(player);
}

void TZULClient::HandlePosition(TZULMessage&) {
  const std::optional<std::vector<int32_t>> fields = ReadRelayed(MsgPosition, PositionFields);
  if (!fields) return;
  TZULPlayer* player = Known((*fields)[0], MsgPosition);
  if (!player) return;
  const bool walking = player->Moving();
  player->Model->SetAnimation(StandingMotion);  // ends a walk in progress
  player->Reserved = (*fields)[1];
  player->X = (*fields)[2];
  player->Y = (*fields)[3];
  player->Direction = (*fields)[4];
  // The walker's own end of a walk often arrives before this copy of it
  // has finished walking.
  if (walking) NoteStop(*player, Journal());
}

void TZULClient::HandleDestination(TZULMessage&) {
  const std::optional<std::vector<int32_t>> fields = ReadRelayed(MsgWalk, WalkFields);
  if (!fields) return;
  TZULPlayer* player = Known((*fields)[0], MsgWalk);
  if (!player) return;
  const int32_t column = (*fields)[1];
  const int32_t row = (*fields)[2];
  // The local player's walks are noted as they start.
  TClientJournal* journal = Journal();
  if (journal && player != LocalPlayer) journal->Goal(player->Name, column, row);
  player->MoveTo(TPoint{column, row});
}

// The look is read whole before the player is looked for: a malformed one
// is refused as such.  The local player is dressed by the creation page.
void TZULClient::HandleLook(TZULMessage&) {
  const int32_t id = IO->ReadInteger();
  const TPlayerLook look = ReadLook(*IO);
  TZULPlayer* player = Known(id, MsgLook);
  auto* remote = dynamic_cast<TRemotePlayer*>(player);
  if (!remote) return;
  remote->SetLook(look);
  if (TClientJournal* journal = Journal()) journal->Look(remote->Name, look.Race, look.Hair, look.Option);
}

void TZULClient::AddLine(const std::string& text, uint32_t color) {
  TGLMemo* chat = FWindow.ChatPanel();
  if (!chat) return;
  chat->Add(text, color);
  if (TClientJournal* journal = Journal()) journal->Chat(text);
}

TZULPlayer* TZULClient::Known(int32_t id, int32_t messageId) {
  TZULPlayer* player = Players.Search(id);
  if (!player) Ignore(messageId, "joueur #" + std::to_string(id) + " inconnu");
  return player;
}

std::optional<std::vector<int32_t>> TZULClient::ReadRelayed(int32_t messageId, int count) {
  std::vector<int32_t> fields;
  try {
    for (int i = 0; i < count; ++i) fields.push_back(IO->ReadInteger());
  } catch (const std::exception& error) {
    Ignore(messageId, ErrorText(error));
    return std::nullopt;
  }
  if (IO->Message.ReadPos <= IO->Message.PayloadEnd) {
    Ignore(messageId, "octets en trop");
    return std::nullopt;
  }
  return fields;
}

void TZULClient::Ignore(int32_t messageId, const std::string& why) {
  WriteStandardError("Message #" + std::to_string(messageId) + std::string(" ignoré : "_cp) + why);
}

void TZULClient::PlayNear(const char* fileName) {
  if (TSoundSystem* sound = FWindow.SoundSystem()) sound->PlayNear(fileName);
}

void TZULClient::DestroyPlayer(TZULPlayer* player) {
  // A player leaves the list by itself as it is destroyed.
  delete player;
}
