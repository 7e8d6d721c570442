// The first screen of the client window: the title scene (logo, title, two
// fires and a lightning bolt) with its two-entry menu, and the character
// creation page where the user picks race, hair and beard or ears for the
// local player's own character.  Every resource is made on the first Paint,
// when the context exists.  The screen owns its textures and effects; the
// six meshes it makes belong to the character's mesh list once appended.
// User-interface thread only.
#pragma once

#include <GL/gl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "client/GLWindows.h"
#include "net/ZULLooks.h"

class TFireSystem;
class TGLFont;
class TGLTexture;
class TL3DPlayer;
class TThorFX;
class TTexturedMesh;

class TIntroWindow : public TGLWindow {
 public:
  static constexpr int HairStyles = 8;      // Cheveux1 to Cheveux8
  static constexpr int OptionStyles = 3;    // Barbe1 to Barbe3, Oreilles1 to Oreilles3
  static constexpr int MenuRowHeight = 20;  // pixels per menu entry, from the middle down
  static constexpr uint8_t RaceHuman = 0;
  static constexpr uint8_t RaceElf = 1;
  static constexpr uint8_t MenuTitle = 0;
  static constexpr uint8_t MenuCreation = 1;

  // Draws its menus with the shared font, which stays the caller's.
  explicit TIntroWindow(TGLFont& font);
  ~TIntroWindow() override;

  // Hides the platform cursor, clears to black and pushes the far plane out.
  void Init() override;
  // The menu entry under the mouse; every button acts the same.
  void MouseDown(QWindow* sender, TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
  // Highlights the menu entry under the mouse.
  void MouseMove(QWindow* sender, TShiftState shift, int32_t x, int32_t y) override;
  // The title scene, the character on the creation page, then the menu.
  void Paint() override;
  // Shows the head of the race, the chosen hair and the chosen beard or ears.
  void UpdateMeshes();
  // Stops the fires' crackle and the tune.
  void Leave() override;
  // The choices as the other clients are told of them.
  TPlayerLook Look() const;

  GLuint LogoTexture = 0;  // 0 until the first Paint makes every resource
  GLuint TitleTexture = 0;
  TGLTexture* FlareTexture = nullptr;  // one reference held
  std::unique_ptr<TFireSystem> Fire1;
  std::unique_ptr<TFireSystem> Fire2;
  std::unique_ptr<TThorFX> Lightning;
  uint8_t Menu = MenuTitle;
  TL3DPlayer* Character = nullptr;    // the local player's model; not owned
  TTexturedMesh* BodyMesh = nullptr;  // the six belong to Character's mesh list
  uint8_t Race = RaceHuman;
  TTexturedMesh* HumanHead = nullptr;
  TTexturedMesh* ElfHead = nullptr;
  TTexturedMesh* Hair = nullptr;
  TTexturedMesh* Beard = nullptr;
  TTexturedMesh* Ears = nullptr;
  std::string OptionLabel;   // "Barbe" or "Oreilles": the third entry and its mesh files' stem
  int32_t HairIndex = -1;    // -1 for none, else 0 to HairStyles - 1
  int32_t OptionIndex = -1;  // -1 for none (humans only), else 0 to OptionStyles - 1
  int HoverRow = -1;         // the menu row under the mouse, -1 for none

 private:
  bool CharacterAlive() const;
  void CreateResources();
  void BuildCharacter();
  void DrawTitleScene();
  void DrawBolt();
  void DrawCharacter();
  void DrawMenu();
  // An entry centred on its row, highlighted while the mouse is over it.
  void DrawEntry(int row, std::string_view text);
  // The creation page's current choices, right of their entries.
  void DrawChoices();
  // The row of the menu under (x, y), -1 outside the menu's band.
  int RowAt(int32_t x, int32_t y) const;
  int RowCount() const;
  void TitleChoice(int row);
  void CreationChoice(int row);
  // The fires and the tune, started once the screen draws.
  void StartSounds();
  void Thunder(uint32_t phase);
  void Click();

  TGLFont& FFont;
  // The character drawn when no connection gives a local player.
  std::unique_ptr<TL3DPlayer> FOwnCharacter;
  // The loops of the sound system while they play, else -1.
  int FFireLoop1 = -1, FFireLoop2 = -1, FTuneLoop = -1;
  bool FSounding = false;            // the loops were started and not left since
  uint32_t FBoltPhase = UINT32_MAX;  // the phase of the last frame; none before the first
};
