#include "models/GLTextures.h"

#include <string>
#include <utility>

#include "models/GLMath.h"
#include "models/PCX.h"  // MD2 skins are PCX pictures: the codec must be linked in
#include "platform/Bitmaps.h"
#include "platform/Errors.h"
#include "platform/Files.h"

namespace {

// Bitmap rows are padded to this many bytes, and OpenGL is told so.
constexpr GLint RowAlignment = 4;

// Uploads a bitmap as the image of the bound GL_TEXTURE_2D texture with
// linear filters: 24 bits per pixel, red and blue swapped into OpenGL's
// order, bottom row first (so the bitmap's bottom row is texture row 0).
// Rows narrower than 4 pixels carry padding, so the swap goes row by row.
void UploadRGB(TBitmap& bitmap) {
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  bitmap.SetPixelFormat(pf24bit);
  uint8_t* row = bitmap.Bits();
  for (int y = 0; y < bitmap.Height(); ++y, row += bitmap.RowBytes())
    for (int x = 0; x < bitmap.Width(); ++x) std::swap(row[3 * x], row[3 * x + 2]);

  GLint alignment = RowAlignment;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
  glPixelStorei(GL_UNPACK_ALIGNMENT, RowAlignment);
  glTexImage2D(GL_TEXTURE_2D, 0, 3, bitmap.Width(), bitmap.Height(), 0, GL_RGB, GL_UNSIGNED_BYTE,
               bitmap.Bits());
  glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
}

}  // namespace

// ---------------------------------------------------------------- TGLTexture

TGLTexture::TGLTexture(TManager* manager) : TInstance(manager) {}

TGLTexture::~TGLTexture() = default;

void TGLTexture::Load(const std::string& fileName) {
  FileName = fileName;
  FBitmap = std::make_unique<TBitmap>();
  FBitmap->LoadFromFile(fileName);
}

void TGLTexture::Bind() {
  if (!FBitmap) {
    glBindTexture(GL_TEXTURE_2D, FGLName);
    return;
  }
  glGenTextures(1, &FGLName);
  glBindTexture(GL_TEXTURE_2D, FGLName);
  UploadRGB(*FBitmap);
  FBitmap.reset();
}

// ---------------------------------------------------------------- TTextureManager

TGLTexture* TTextureManager::Get(const std::string& fileName) { return Share<TGLTexture>(fileName); }

// ---------------------------------------------------------------- TTextureList

void TTextureList::Add(const std::string& fileName) { FItems.push_back(TextureManager.Get(fileName)); }

TGLTexture* TTextureList::Items(int index) const {
  if (index < 0 || index >= Count())
    throw Exception("List index out of bounds (" + std::to_string(index) + ")");
  return FItems[static_cast<std::size_t>(index)];
}

void TTextureList::Clear() {
  for (TGLTexture* texture : FItems) texture->Release();
  FItems.clear();
}

TTextureManager TextureManager;

namespace GLTextures {

// ---------------------------------------------------------------- TInstance

void TInstance::Release() {
  --FRefCount;
  if (FRefCount < 1) FManager.Destroy(*this);
}

// ---------------------------------------------------------------- TManager

TManager::~TManager() { DestroyAll(); }

TInstance* TManager::Find(const std::string& fileName) const {
  for (const TEntry& entry : FEntries)
    if (SameText(entry.FileName, fileName)) return entry.Instance.get();
  return nullptr;
}

TInstance* TManager::Acquire(const std::string& fileName,
                             const std::function<std::unique_ptr<TInstance>()>& Create) {
  TInstance* instance = Find(fileName);
  if (!instance) {
    std::unique_ptr<TInstance> made = Create();
    instance = made.get();
    FEntries.push_back({fileName, std::move(made)});
  }
  ++instance->FRefCount;
  return instance;
}

void TManager::DestroyAll() {
  while (!FEntries.empty()) {
    // Out of the list before it is destroyed, so that nothing it does on
    // its way out finds it.
    std::unique_ptr<TInstance> last = std::move(FEntries.back().Instance);
    FEntries.pop_back();
  }
}

void TManager::Destroy(TInstance& instance) {
  for (auto it = FEntries.begin(); it != FEntries.end(); ++it)
    if (it->Instance.get() == &instance) {
      std::unique_ptr<TInstance> owned = std::move(it->Instance);
      FEntries.erase(it);
      return;
    }
}

// ---------------------------------------------------------------- TTextureInstance

TTextureInstance::TTextureInstance(TManager& manager, const std::string& fileName)
    : TInstance(manager), FFileName(fileName) {
  LoadPicture();
}

TTextureInstance::~TTextureInstance() { DeleteTexture(); }

void TTextureInstance::LoadPicture() {
  FBitmap.reset();
  const std::string found = FindFile(FFileName);
  std::unique_ptr<TBitmap> picture = ::LoadPicture(found.empty() ? FFileName : found);

  auto bitmap =
      std::make_unique<TBitmap>(NextPowerOfTwo(picture->Width()), NextPowerOfTwo(picture->Height()), pf24bit);
  FScaleU = static_cast<float>(picture->Width()) / static_cast<float>(bitmap->Width());
  FScaleV = static_cast<float>(picture->Height()) / static_cast<float>(bitmap->Height());
  // A rectangle whose top lies below its bottom: the picture lands upside
  // down in the bottom rows, its top row on the bitmap's bottom row.
  const int height = bitmap->Height();
  bitmap->StretchDraw(TRect{0, height - 1, picture->Width(), height - picture->Height() - 1}, *picture);
  FBitmap = std::move(bitmap);
}

void TTextureInstance::Bind() {
  if (!FLoaded) {
    if (!FBitmap) LoadPicture();
    glGenTextures(1, &FGLName);
    FLoaded = true;
  }
  glBindTexture(GL_TEXTURE_2D, FGLName);
  if (FBitmap) {
    UploadRGB(*FBitmap);
    FBitmap.reset();
  }
}

void TTextureInstance::DeleteTexture() {
  if (!FLoaded) return;
  glDeleteTextures(1, &FGLName);
  FLoaded = false;
}

// ---------------------------------------------------------------- TTextureManager

TTextureInstance* TTextureManager::Get(const std::string& fileName) {
  return static_cast<TTextureInstance*>(
      Acquire(fileName, [&] { return std::make_unique<TTextureInstance>(*this, fileName); }));
}

void TTextureManager::DeleteAll() {
  // Every entry was made by Get, so every instance is a texture.
  for (int i = 0; i < Count(); ++i) static_cast<TTextureInstance*>(Instance(i))->DeleteTexture();
}

}  // namespace GLTextures

GLTextures::TTextureManager ModelTextures;
