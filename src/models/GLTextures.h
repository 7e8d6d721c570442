// The two texture managers.  Pictures become OpenGL textures at their first
// Bind.  The managers follow different rules (both described here):
//
//                        TextureManager (L3D family)   ModelTextures (GLTextures)
//   lookup               exact file name               letter case ignored
//   new textures listed  yes, shared by name           yes, shared by name
//   count on Get         +1 past the first holder      +1 on every Get
//   Release              -1 while counted and managed, -1; destroyed below 1
//                        else destroyed
//   manager destroyed    textures detached, kept       every texture destroyed
//   file kinds           Windows bitmaps               any registered picture kind
//   size                 as in the file                padded up to powers of two
//   picture in texture   bottom row at texture row 0   top row at texture row 0
//   GL name given back   never                         on destruction and DeleteAll
//
// User-interface thread only; Bind, DeleteTexture and DeleteAll need the
// OpenGL context current, Get touches no OpenGL state.
#pragma once

#include <GL/gl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "models/L3D.h"

class TBitmap;

// ---------------------------------------------------------------- L3D family

// One Windows bitmap file as a texture, for the skeletal characters and the
// screens.  The picture is read when the texture is loaded and uploaded as it
// is (sides of powers of two expected) at the first Bind, then freed.  The
// texture name stays with OpenGL for the life of the program.
class TGLTexture : public TInstance {
 public:
  explicit TGLTexture(TManager* manager = nullptr);
  ~TGLTexture() override;

  // Keeps the name and reads the file: "Cannot open file ...", "Bitmap
  // image is not valid".
  void Load(const std::string& fileName);
  // Makes it the current GL_TEXTURE_2D texture, uploading the picture first
  // while it is still held.
  void Bind();

  // The picture waiting for its upload; null once uploaded.
  const TBitmap* Bitmap() const { return FBitmap.get(); }
  TBitmap* Bitmap() { return FBitmap.get(); }
  // Valid once uploaded.
  GLuint GLName() const { return FGLName; }

 private:
  std::unique_ptr<TBitmap> FBitmap;
  GLuint FGLName = 0;
};

// Hands out textures by exact file name, shared: the first Get of a name
// reads the file and lists the texture (RefCount 0, one holder), every
// other Get while it lives hands out the same one with one more reference,
// so a thousand characters dressed alike hold one picture each.  Holders
// must not change a shared picture: a texture of one's own is a
// TGLTexture loaded outside the manager.
class TTextureManager : public TManager {
 public:
  TGLTexture* Get(const std::string& fileName);
};

// The textures of one mesh; texture i serves material group i.  The list
// holds the reference that Get handed out and gives it back when cleared or
// destroyed.
class TTextureList {
 public:
  TTextureList() = default;
  ~TTextureList() { Clear(); }
  TTextureList(const TTextureList&) = delete;
  TTextureList& operator=(const TTextureList&) = delete;

  // Appends what TextureManager gives for the file; on an error nothing is
  // added.
  void Add(const std::string& fileName);
  int Count() const { return static_cast<int>(FItems.size()); }
  // "List index out of bounds (<index>)" outside the list.
  TGLTexture* Items(int index) const;
  // Releases every texture and empties the list.
  void Clear();

 private:
  std::vector<TGLTexture*> FItems;
};

// The character textures and the screens' single textures.
extern TTextureManager TextureManager;

// ---------------------------------------------------------------- GLTextures family

namespace GLTextures {

class TManager;

// A resource shared by file name through its manager, which owns it.  Every
// Get of the manager counts one holder; each holder gives its reference back
// with Release, and the last Release destroys the instance with its entry.
// Also the base of the MD2 model instances.
class TInstance {
 public:
  explicit TInstance(TManager& manager) : FManager(manager) {}
  virtual ~TInstance() = default;
  TInstance(const TInstance&) = delete;
  TInstance& operator=(const TInstance&) = delete;

  TManager& Manager() const { return FManager; }
  // The number of holders.
  int RefCount() const { return FRefCount; }
  // Gives one reference back; below 1 the instance is destroyed.
  void Release();

 private:
  friend class TManager;
  TManager& FManager;
  int FRefCount = 0;
};

// Entries: pairs (file name, instance) in order of creation, found without
// regard to letter case.  The manager owns its instances: destroying it
// destroys every one, from the last entry to the first, whatever its count.
class TManager {
 public:
  TManager() = default;
  virtual ~TManager();
  TManager(const TManager&) = delete;
  TManager& operator=(const TManager&) = delete;

  int Count() const { return static_cast<int>(FEntries.size()); }
  const std::string& FileName(int index) const { return FEntries.at(index).FileName; }
  TInstance* Instance(int index) const { return FEntries.at(index).Instance.get(); }
  // The instance registered under the name (letter case ignored), or null.
  TInstance* Find(const std::string& fileName) const;

 protected:
  // What Get of every manager of this family does: the instance registered
  // under the name, or else the one Create makes, registered under it; in
  // both cases with one more reference.  An error from Create passes on and
  // registers nothing.
  TInstance* Acquire(const std::string& fileName, const std::function<std::unique_ptr<TInstance>()>& Create);
  // Destroys every instance, from the last entry to the first.
  void DestroyAll();

 private:
  friend class TInstance;
  // Removes the entry of the instance, then destroys it.
  void Destroy(TInstance& instance);

  struct TEntry {
    std::string FileName;
    std::unique_ptr<TInstance> Instance;
  };
  std::vector<TEntry> FEntries;
};

// One picture file as a texture of power-of-two sides.  The picture is
// decoded when the instance is made and kept in Bitmap, stored upside down in
// the bottom rows of a 24-bit bitmap padded up to powers of two, so that after
// the bottom-up upload its top row is texture row 0.  Coordinates measured
// across the picture from its top left (0 to 1) address the texture once
// multiplied by ScaleU and ScaleV.
class TTextureInstance : public TInstance {
 public:
  // Loads the picture at once; the loader's errors pass on.
  TTextureInstance(TManager& manager, const std::string& fileName);
  // Gives the texture name back and frees the picture.
  ~TTextureInstance() override;

  // Makes it the current GL_TEXTURE_2D texture, generating its name and
  // uploading the picture when needed; after DeleteTexture the picture is
  // read from its file again ("Cannot open file ..." when it has gone).
  void Bind();
  // Deletes the OpenGL texture name, if one was generated.
  void DeleteTexture();

  const std::string& FileName() const { return FFileName; }
  // The picture waiting for its upload; null once uploaded.
  const TBitmap* Bitmap() const { return FBitmap.get(); }
  bool Loaded() const { return FLoaded; }
  GLuint GLName() const { return FGLName; }
  // Picture width / texture width and picture height / texture height.
  float ScaleU() const { return FScaleU; }
  float ScaleV() const { return FScaleV; }

 private:
  void LoadPicture();

  std::string FFileName;
  std::unique_ptr<TBitmap> FBitmap;
  bool FLoaded = false;
  GLuint FGLName = 0;
  float FScaleU = 1;
  float FScaleV = 1;
};

// The manager of the MD2 skins.
class TTextureManager : public TManager {
 public:
  // The texture registered under the name (letter case ignored), or a new
  // one loaded from the file; either way with one more reference.  The file
  // is found whatever the letter case of its name on disk.  A picture that
  // fails to load is not registered.
  TTextureInstance* Get(const std::string& fileName);
  // Deletes every texture name; the textures stay registered and their next
  // Bind reloads and uploads their pictures.  Run before the OpenGL context
  // goes away.
  void DeleteAll();
};

}  // namespace GLTextures

using GLTextures::TTextureInstance;

// The MD2 skins.
extern GLTextures::TTextureManager ModelTextures;
