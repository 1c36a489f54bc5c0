// A Graphics Output double over a frame buffer the test owns (or a chip's): one mode, QueryMode
// (the record from the running platform's pool), Blt's fill, buffer-to-video and
// video-to-video, each checked to stay inside the mode, and the operations it was asked for.
#pragma once

#include <HostPlatform.h>
#include <Protocol/GraphicsOutput.h>

#include <gtest/gtest.h>

#include <vector>

namespace screen_test {

inline UINT32 PixelValue(EFI_GRAPHICS_OUTPUT_BLT_PIXEL Pixel) {
  return Pixel.Red << 16 | Pixel.Green << 8 | Pixel.Blue;
}

class GopDouble {
public:
  // Pixels: Height rows of Pitch pixels each, red << 16 | green << 8 | blue.
  GopDouble(UINT32 *Pixels, UINT32 Width, UINT32 Height, UINT32 Pitch, EFI_PHYSICAL_ADDRESS Base = 0)
      : Pixels_(Pixels), Pitch_(Pitch) {
    Info_.HorizontalResolution = Width;
    Info_.VerticalResolution = Height;
    Info_.PixelFormat = PixelBlueGreenRedReserved8BitPerColor;
    Info_.PixelsPerScanLine = Pitch;
    Mode_ = {1, 0, &Info_, sizeof(Info_), Base, UINTN(Pitch) * Height * sizeof(UINT32)};
    Protocol_.Output = {QueryMode, nullptr, Blt, &Mode_};
    Protocol_.Self = this;
  }
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Protocol() { return &Protocol_.Output; }
  void NoMode() { Mode_.Mode = 0xFFFF; }
  const std::vector<EFI_GRAPHICS_OUTPUT_BLT_OPERATION> &Operations() const { return Operations_; }

private:
  static EFI_STATUS EFIAPI QueryMode(EFI_GRAPHICS_OUTPUT_PROTOCOL *This, UINT32 ModeNumber, UINTN *SizeOfInfo,
                                     EFI_GRAPHICS_OUTPUT_MODE_INFORMATION **Info) {
    if (ModeNumber != 0 || SizeOfInfo == nullptr || Info == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    EFI_STATUS Status = host::Platform::Current().BootServices()->AllocatePool(
        EfiBootServicesData, sizeof(**Info), reinterpret_cast<VOID **>(Info));
    if (!EFI_ERROR(Status)) {
      **Info = *This->Mode->Info;
      *SizeOfInfo = sizeof(**Info);
    }
    return Status;
  }
  static EFI_STATUS EFIAPI Blt(EFI_GRAPHICS_OUTPUT_PROTOCOL *This, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer,
                               EFI_GRAPHICS_OUTPUT_BLT_OPERATION Operation, UINTN SourceX, UINTN SourceY,
                               UINTN DestinationX, UINTN DestinationY, UINTN Width, UINTN Height,
                               UINTN Delta) {
    GopDouble &Self = *reinterpret_cast<Instance *>(This)->Self;
    Self.Operations_.push_back(Operation);
    const UINTN ModeWidth = Self.Info_.HorizontalResolution, ModeHeight = Self.Info_.VerticalResolution;
    const bool FromVideo = Operation == EfiBltVideoToVideo;
    if (Width == 0 || Height == 0 || Delta != 0 || DestinationX + Width > ModeWidth ||
        DestinationY + Height > ModeHeight ||
        (FromVideo && (SourceX + Width > ModeWidth || SourceY + Height > ModeHeight))) {
      ADD_FAILURE() << "Blt outside the mode";
      return EFI_INVALID_PARAMETER;
    }
    const std::vector<UINT32> Before(Self.Pixels_, Self.Pixels_ + Self.Pitch_ * ModeHeight);
    for (UINTN Y = 0; Y < Height; Y++) {
      for (UINTN X = 0; X < Width; X++) {
        UINT32 &Pixel = Self.Pixels_[(DestinationY + Y) * Self.Pitch_ + DestinationX + X];
        if (Operation == EfiBltVideoFill) {
          Pixel = PixelValue(Buffer[0]);
        } else if (Operation == EfiBltBufferToVideo) {
          Pixel = PixelValue(Buffer[(SourceY + Y) * Width + SourceX + X]);
        } else if (FromVideo) {
          Pixel = Before[(SourceY + Y) * Self.Pitch_ + SourceX + X];
        } else {
          ADD_FAILURE() << "the console reads nothing back";
          return EFI_UNSUPPORTED;
        }
      }
    }
    return EFI_SUCCESS;
  }

  struct Instance {
    EFI_GRAPHICS_OUTPUT_PROTOCOL Output; // first: Blt finds the double from This
    GopDouble *Self;
  };
  UINT32 *Pixels_;
  UINT32 Pitch_;
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Info_{};
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE Mode_{};
  Instance Protocol_{};
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_OPERATION> Operations_;
};

} // namespace screen_test
