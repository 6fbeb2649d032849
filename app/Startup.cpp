#include "app/Startup.h"

#include "document/dtpBitmapShape.h"
#include "document/dtpColorEffects.h"
#include "document/dtpDocument.h"
#include "document/dtpEffectShape.h"
#include "document/dtpExposedMetafile.h"
#include "document/dtpFreehandShape.h"
#include "document/dtpGroupShape.h"
#include "document/dtpLineShape.h"
#include "document/dtpMemoShape.h"
#include "document/dtpPage.h"
#include "document/dtpPolygonShape.h"
#include "document/dtpResource.h"
#include "document/dtpShadowEffects.h"
#include "document/dtpShape.h"
#include "document/dtpTextShape.h"
#include "platform/DirectShow.h"
#include "platform/Forms.h"
#include "raster/Raster32.h"
#include "raster/Raster32Blend.h"
#include "raster/dtpRasterFormats.h"
#include "raster/dtpRasterGIF.h"
#include "raster/dtpRasterJ2K.h"
#include "raster/dtpRasterPNG.h"
#include "widgets/ExStatusBar.h"
#include "widgets/HookManager.h"
#include "widgets/KbMonitor.h"
#include "widgets/SystemInfo.h"
#include "widgets/VisualStyles.h"

namespace app {

namespace {
bool gInitialized = false;
}

void InitializeUnits() {
  if (gInitialized) return;
  gInitialized = true;
  platform::InitializeForms();
  // Shape classes register first, then the raster formats, the bitmap library, the editor's
  // cursors, the visual-styles binding, the system information and the two extra cursors.
  document::InitializeDtpShape();
  document::InitializeDtpEffectShape();
  document::InitializeDtpBitmapShape();
  document::InitializeDtpPage();
  document::InitializeDtpGroupShape();
  document::InitializeDtpTextShape();
  document::InitializeDtpExposedMetafile();
  document::InitializeDtpPolygonShape();
  document::InitializeDtpLineShape();
  document::InitializeDtpMemoShape();
  document::InitializeDtpFreehandShape();
  document::InitializeDtpColorEffects();
  document::InitializeDtpShadowEffects();
  document::InitializeDtpResource();
  raster::InitializeDtpRasterFormats();
  raster::InitializeDtpRasterGIF();
  raster::InitializeDtpRasterPNG();
  raster::InitializeDtpRasterJ2K();
  raster::InitializeRaster32();
  document::InitializeDtpDocument();
  widgets::InitializeVisualStyles();
  widgets::InitializeSystemInfo();
  widgets::InitializeCursors();
  widgets::InitializeKbMonitor();
  widgets::InitializeExStatusBar();
  platform::SetWindowExceptionHandler(
      [](const std::exception& E) { platform::Application()->HandleException(nullptr, E); });
}

void FinalizeUnits() {
  if (!gInitialized) return;
  gInitialized = false;
  platform::SetWindowExceptionHandler(nullptr);
  widgets::FinalizeExStatusBar();
  widgets::FinalizeKbMonitor();
  widgets::FinalizeSystemInfo();
  widgets::FinalizeVisualStyles();
  document::FinalizeDtpDocument();
  raster::FinalizeRaster32();
  raster::FinalizeBlendRoutines();
  raster::FinalizeDtpRasterJ2K();
  raster::FinalizeDtpRasterPNG();
  raster::FinalizeDtpRasterGIF();
  raster::FinalizeDtpRasterFormats();
  document::FinalizeDtpResource();
  document::FinalizeDtpTextShape();
  document::FinalizeDtpEffectShape();
  document::FinalizeDtpShape();
  widgets::FinalizeHookManager();
  platform::FinalizeForms();
}

}  // namespace app
