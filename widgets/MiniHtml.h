// The mini-HTML renderer: draws a short tagged text (one tree item, say) into a rectangle of a
// canvas, measures it, and answers what lies under a mouse point (an anchor, an anchored image
// or an embedded control). The text is consumed left to right one visual line at a time; each
// line is measured, placed by its paragraph alignment, then drawn (or only hit-tested) with the
// same tags in the same state. The helpers read and rewrite anchors ("parameters") and control
// tags inside such text, strip it to plain text and parse its colours.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Colors.h"
#include "platform/AppHooks.h"
#include "platform/Types.h"

namespace platform {
class TCanvas;
class TImageList;
class TBitmap;
}  // namespace platform

namespace widgets {

class THTMLPictureCache;

// Inputs of RenderMiniHtml besides canvas, text and rectangle.
struct TMiniHtmlParams {
  platform::TImageList* Images = nullptr;  // "IDX:" sources
  int32_t MouseX = -1;                     // hit-test point, canvas coordinates
  int32_t MouseY = -1;
  int32_t FocusAnchor = -1;  // 0-based anchor with the keyboard focus (frame); -1 none
  int32_t HoverAnchor = -1;  // 1-based number of the hovered anchor; -1 none
  int32_t ShadowOffset = 1;
  bool HitTestOnly = false;  // the drawing pass runs without painting
  bool MeasureOnly = false;  // only the measuring pass runs
  bool Printing = false;
  bool KeepColors = false;     // anchor colours, FONT COLOR and BGCOLOR are ignored
  bool ShowBlinkText = true;   // false paints BLINK text in the background colour
  bool HoverStyle = true;      // hover colours only for the hovered anchor
  bool WordWrap = true;        // false: every line ends in an ellipsis instead
  bool MouseDown = false;      // the control under the mouse is drawn pressed
  bool FocusRectAsHover = false;  // the anchor numbered FocusAnchor reports its rectangle as HoverRect
  double ResolutionFactor = 1.0;
  platform::TColor AnchorColor = platform::clBlue;
  platform::TColor HoverColor = platform::clNone;      // brush behind the hovered anchor
  platform::TColor HoverFontColor = platform::clNone;  // its font colour
  platform::TColor ShadowColor = platform::clGray;
  THTMLPictureCache* PictureCache = nullptr;
  platform::HWND WindowHandle = nullptr;
  int32_t LineSpacing = 0;
};

// Outputs. AnchorValue and HoverRect keep what the caller put in unless an anchor sets them.
struct TMiniHtmlResult {
  std::string AnchorValue;
  std::string PlainText;  // text without tags, a CR for each BR
  // The characters drawn, in order: hidden text, and BLINK text painted in the background
  // colour, left out; a CR at every line end a tag makes (BR, HR, /P, a second list item).
  // Control pictures, images and bullets are no text. What keyboard search matches.
  std::string ShownText;
  std::string FocusAnchorValue;
  int32_t Width = 0;   // widest line
  int32_t Height = 0;  // sum of line heights, at least one text height
  int32_t AnchorCount = 0;
  int32_t MouseAnchor = -1;  // 1-based
  platform::TRect HoverRect;
  platform::TRect ControlRect;
  std::string ControlId, ControlValue, ControlType;
};

// True when the mouse point lies on anchor text, an anchored image or a control. The canvas's
// font and brush are restored on return.
bool RenderMiniHtml(platform::TCanvas* Canvas, const std::string& Text, platform::TRect& Rect,
                    const TMiniHtmlParams& Params, TMiniHtmlResult& Result);

// Every "<BR>" and "<HR>" (any case) becomes CR LF, then every complete tag is removed; an
// unterminated "<" and what follows stay. Entities stay as written.
std::string StripMiniHtml(std::string_view S);
// "#RRGGBB" to $00BBGGRR (hexadecimal digits in either case).
platform::TColor HtmlColorToColor(std::string_view S);
// The first two characters as a hexadecimal byte; a character that is no digit counts 0, and
// fewer than two characters give 0.
uint8_t HexPairToByte(std::string_view S);
// "clred", "clbtnface", ... (lower case) to the colour; 0 for unknown names.
platform::TColor ColorNameToColor(std::string_view S);
// Replaces the first case-insensitive occurrence; returns whether there was one.
bool ReplaceOnce(std::string_view Pattern, std::string_view Replacement, std::string& S);
// LF dropped; CR becomes "<BR>" with BreaksAsTags, else dropped.
std::string CrLfToBreaks(std::string_view S, bool BreaksAsTags);
// Removes the "<" of the first "<#" and the first ">" after it.
std::string UnwrapHashTag(std::string_view S);
std::string EscapeAngles(std::string_view S);
std::string UnescapeAngles(std::string_view S);
// "&" "<" ">" and the double quote to entities, every occurrence ("&" first).
std::string EscapeParamValue(std::string_view S);
// Every entity the renderer knows decoded, in one left-to-right pass (an "&amp;lt;" gives
// "&lt;", never "<"): amp quot lt gt nbsp sect permil reg copy para trade euro, to UTF-8.
std::string DecodeEntities(std::string_view S);

struct TControlTag {
  std::string Type;  // upper case
  std::string Width;
  std::string Id;
  std::string Value;  // entities decoded
};
TControlTag ParseControlTag(std::string_view Tag);
// Rewrites the control tag whose ID is Id (as written) with a new VALUE (escaped), keeping its
// ID, WIDTH and TYPE as they stand.
bool BuildControlTag(std::string& S, const std::string& Id, const std::string& Value);

// The text of the first anchor whose href is Href (case-insensitive), as written.
bool GetAnchorValue(const std::string& S, const std::string& Href, std::string& Value);
// Replaces that anchor's text; Value is inserted as given.
bool SetAnchorValue(std::string& S, const std::string& Href, const std::string& Value);
// Value (as written), props, class (upper case) and hint of the anchor Href; attribute values
// have their entities decoded.
bool GetAnchorAttributes(const std::string& S, const std::string& Href, std::string& Value, std::string& Props,
                         std::string& Class, std::string& Hint);
// Anchors of a text: occurrences of "HREF=" in any case.
int32_t CountAnchors(std::string_view S);
// The href of the Index-th anchor (0-based), entities decoded; "" when there is none.
std::string AnchorHrefAt(std::string_view S, int32_t Index);
// The pieces between "|"; a final empty piece is not added.
std::vector<std::string> SplitBarList(std::string_view S);

// Steps bands (0 counts as 1) from FromColor to ToColor, per channel; band k starts at
// round(k * extent / steps) and reaches one pixel past the next band's start, clipped to R.
void DrawGradientRect(platform::TCanvas* Canvas, platform::TColor FromColor, platform::TColor ToColor, int32_t Steps,
                      const platform::TRect& R, bool Horizontal);
// The band colours DrawGradientRect uses (tests).
platform::TColor GradientBandColor(platform::TColor FromColor, platform::TColor ToColor, int32_t Steps, int32_t Band);
// The shell icon of a file, folder or extension at (X, Y); returns its size.
int32_t DrawSystemIcon(platform::TCanvas* Canvas, int32_t X, int32_t Y, const std::string& Path, bool Large,
                       bool Printing = false, double ResolutionFactor = 1.0);
void StretchDrawScaled(platform::TCanvas* Canvas, const platform::TRect& R, platform::TBitmap* Bitmap);

}  // namespace widgets
