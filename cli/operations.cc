// The table of operations: names, one-line descriptions, files, options and run functions.
// main.cc builds the usage text and the parser from it, so the two never drift apart.
#include "cli/ops.h"
#include "corvix/commands.h"

namespace corvix::cli {
namespace {

// The layout of YUV frames: ffmpeg's pixel-format names, and the group size as a short form.
const OptionDef kChroma{.name = "chroma",
                        .kind = Kind::kChoice,
                        .value = "N",
                        .help = "short for --pix-fmt: 4 (yuv411p), 2 (yuv422p), 1 (yuv444p)",
                        .choices = "4|2|1"};

OptionDef pix_fmt(const char *choices, const char *help) {
  return {
      .name = "pix-fmt", .kind = Kind::kChoice, .value = "FMT", .help = help, .choices = choices};
}

const OptionDef kBackground{.name = "background",
                            .kind = Kind::kColour,
                            .value = "R,G,B",
                            .help = "colour of the uncovered area (a one-byte image uses R)",
                            .fallback = "0,0,0"};

// The drawing operations' shared options.
OptionDef point(const char *name, const char *help) {
  return {.name = name, .kind = Kind::kPoint, .value = "X,Y", .help = help, .required = true};
}

const OptionDef kDrawColour{.name = "colour",
                            .kind = Kind::kColour,
                            .value = "R,G,B",
                            .help = "its colour (a one-byte image takes R)",
                            .fallback = "255,255,255"};

OptionDef channel_range(const char *name, const char *help) {
  return {
      .name = name, .kind = Kind::kRange, .value = "LOW,HIGH", .help = help, .fallback = "0,255"};
}

// The common shape: one input image, one output image.
Operation filter(const char *name, const char *summary, std::vector<OptionDef> options,
                 void (*run)(Job &), const char *details = nullptr) {
  return {.name = name,
          .summary = summary,
          .files = "INPUT OUTPUT",
          .inputs = 1,
          .output = true,
          .options = std::move(options),
          .run = run,
          .details = details};
}

std::vector<Operation> make_table() {
  return {
      filter("yuv2rgb",
             "convert YUV video frames (y4m or raw) to PPM (command 2; with --resize command 10)",
             {pix_fmt("yuv411p|yuv422p|yuv444p|yuv420p|nv12",
                      "the layout of raw frames, as ffmpeg names it (a y4m stream names its own)"),
              kChroma,
              {.name = "size",
               .kind = Kind::kSize,
               .value = "WxH",
               .help = "the frame size of raw frames (a y4m stream gives its own)"},
              {.name = "resize",
               .kind = Kind::kSize,
               .value = "WxH",
               .help = "scale every frame to WxH while converting"},
              {.name = "raw",
               .kind = Kind::kFlag,
               .value = "",
               .help = "write one raw stream of 3-byte pixels, blue first (bgr24)"}},
             run_yuv2rgb,
             "INPUT is a YUV4MPEG2 stream (ffmpeg -f yuv4mpegpipe; C411, C422, C444 or C420, "
             "progressive),\nwhose header gives the frame size and layout, or raw frames "
             "(ffmpeg -f rawvideo), whose\nlayout --pix-fmt and --size must name: Y, then U "
             "(Cb), then V (Cr), or for nv12 Y, then\nU,V pairs. 4:2:0 frames give each row "
             "the chroma row of its pair of rows.\nOne frame goes to OUTPUT as named; several "
             "go to numbered files when OUTPUT is a pattern\nsuch as frame-%04d.ppm (numbered "
             "from 1), or, with --raw, to one stream that ffmpeg reads\nas -f rawvideo "
             "-pix_fmt bgr24. A progress bar shows on a terminal (--quiet hides it)."),
      {.name = "rgb2yuv",
       .summary = "make YUV video frames (BT.601 studio range, raw or y4m) from PPM images",
       .files = "INPUT... OUTPUT",
       .inputs = -1,
       .output = true,
       .options = {pix_fmt("yuv411p|yuv422p|yuv444p|yuv420p|nv12",
                           "the frames' layout (default yuv411p)"),
                   kChroma,
                   {.name = "format",
                    .kind = Kind::kChoice,
                    .value = "KIND",
                    .help = "y4m: a YUV4MPEG2 stream; raw: bare planes (default: y4m when "
                            "OUTPUT ends in .y4m)",
                    .choices = "y4m|raw"}},
       .run = run_rgb2yuv,
       .details = "Writes one frame per INPUT, in order: the Y plane, then U (Cb), then V (Cr) "
                  "(for nv12\nU,V pairs), each chroma sample the mean of its group of pixels. "
                  "The inverse of yuv2rgb;\nffmpeg reads raw frames as -f rawvideo -pix_fmt FMT "
                  "-video_size WxH, and a y4m stream as\nit is."},
      filter("scale", "resize by nearest sample (command 9; command 3 for one-byte frames)",
             {{.name = "size",
               .kind = Kind::kSize,
               .value = "WxH",
               .help = "new size",
               .required = true}},
             run_scale,
             "INPUT is a colour PPM or a one-byte PGM frame (cube indices, pens); the "
             "result has the same\nkind."),
      filter("remap",
             "reduce colours to the 6x6x6 cube: one-byte PGM of cube indices or pens "
             "(command 4)",
             {{.name = "palette",
               .kind = Kind::kText,
               .value = "FILE",
               .help = "a PPM whose pixels are a screen's pens 0, 1, ... (at most 256): "
                       "write the nearest pen instead of the cube index"},
              {.name = "preview",
               .kind = Kind::kText,
               .value = "FILE",
               .help = "also write the colours the result stands for as a PPM"}},
             run_remap),
      filter("pens", "translate a PGM of cube indices to a palette's pens (command 6)",
             {{.name = "palette",
               .kind = Kind::kText,
               .value = "FILE",
               .help = "a PPM whose pixels are a screen's pens 0, 1, ... (at most 256)",
               .required = true},
              {.name = "preview",
               .kind = Kind::kText,
               .value = "FILE",
               .help = "also write the pens' colours as a PPM"}},
             run_pens),
      filter("correct", "contrast, brightness and negative (command 5)",
             {{.name = "contrast",
               .kind = Kind::kInteger,
               .value = "PCT",
               .help = "contrast in percent: 100 keeps it, more spreads levels away from "
                       "128",
               .fallback = "100",
               .min = -100000,
               .max = 100000},
              {.name = "brightness",
               .kind = Kind::kInteger,
               .value = "N",
               .help = "added to every level after the contrast",
               .fallback = "0",
               .min = -100000,
               .max = 100000},
              {.name = "negative",
               .kind = Kind::kFlag,
               .value = "",
               .help = "turn the result into its negative"}},
             run_correct),
      {.name = "fade",
       .summary = "cross-fade frame A into frame B (command 7)",
       .files = "A B OUTPUT",
       .inputs = 2,
       .output = true,
       .options = {{.name = "level",
                    .kind = Kind::kInteger,
                    .value = "N",
                    .help = "0 gives A, 255 gives B",
                    .fallback = "128",
                    .min = 0,
                    .max = 255}},
       .run = run_fade},
      filter("raise", "raise dark levels: bytes at or below N become N + 1 (command 11)",
             {{.name = "level",
               .kind = Kind::kInteger,
               .value = "N",
               .help = "-1 changes nothing, 254 makes every byte 255",
               .min = -1,
               .max = 254,
               .required = true}},
             run_raise),
      {.name = "fadeover",
       .summary = "bytes of A at or below N are replaced by B's (command 12)",
       .files = "A B OUTPUT",
       .inputs = 2,
       .output = true,
       .options = {{.name = "level",
                    .kind = Kind::kInteger,
                    .value = "N",
                    .help = "-1 keeps A, 255 gives B",
                    .min = -1,
                    .max = 255,
                    .required = true}},
       .run = run_fadeover},
      filter("deinterlace",
             "line doubling: every odd row becomes a copy of the row above (command 8)", {},
             run_deinterlace),
      filter("turn", "turn by quarter turns, clockwise (command 13)",
             {{.name = "angle",
               .kind = Kind::kChoice,
               .value = "DEG",
               .help = "90, 180 or 270 degrees clockwise",
               .fallback = "90",
               .choices = "90|180|270"}},
             run_turn),
      filter("mirror", "turn upside down and/or mirror left to right (command 14)",
             {{.name = "vertical",
               .kind = Kind::kFlag,
               .value = "",
               .help = "turn upside down (the rows' order reversed)"},
              {.name = "horizontal",
               .kind = Kind::kFlag,
               .value = "",
               .help = "mirror left to right (each row reversed)"}},
             run_mirror),
      filter("invert", "negative: every byte b becomes 255 - b (command 15)", {}, run_invert),
      {.name = "levels",
       .summary = "print the lowest and highest level of each channel (command 17)",
       .files = "INPUT",
       .inputs = 1,
       .output = false,
       .options = {{.name = "channel",
                    .kind = Kind::kChoice,
                    .value = "NAME",
                    .help = "print only this channel's MIN MAX: red, green, blue or average",
                    .choices = "red|green|blue|average"}},
       .run = run_levels,
       .details = "Without --channel prints four lines: red, green, blue and average (the "
                  "per-pixel mean of the\nthree), each followed by its minimum and maximum."},
      filter(
          "stretch", "stretch each channel's range to 0..255, then a master range (command 16)",
          {channel_range("red", "levels at or below LOW become 0, at or above HIGH 255"),
           channel_range("green", "the same for green"), channel_range("blue", "the same for blue"),
           channel_range("master", "then applied to every channel's result")},
          run_stretch),
      filter("autolevel", "stretch each channel from its own lowest to highest level (command 18)",
             {}, run_autolevel),
      filter("rotate", "rotate by any angle into a larger image, bilinear (library)",
             {{.name = "angle",
               .kind = Kind::kNumber,
               .value = "DEG",
               .help = "degrees, counter-clockwise",
               .required = true},
              kBackground},
             run_rotate),
      filter("shear", "shift a band of rows right by amounts that grow linearly (library)",
             {{.name = "rows",
               .kind = Kind::kRange,
               .value = "FIRST,LAST",
               .help = "the band of rows (default: every row)"},
              {.name = "shift",
               .kind = Kind::kRange,
               .value = "A,B",
               .help = "shift in pixels at the band's first and last row, 0 or more",
               .required = true},
              kBackground},
             run_shear),
      filter("transpose", "mirror about the main diagonal: rows become columns (library)", {},
             run_transpose),
      filter("cut", "copy a rectangle out; parts past the edges are black (library)",
             {{.name = "rect",
               .kind = Kind::kRect,
               .value = "WxH+X+Y",
               .help = "W x H pixels from (X, Y); X and Y may be negative (WxH-X-Y)",
               .required = true}},
             run_cut),
      filter("smooth", "soften with passes of a five-point filter (library)",
             {{.name = "passes",
               .kind = Kind::kInteger,
               .value = "N",
               .help = "number of passes",
               .fallback = "1",
               .min = 0,
               .max = 10000}},
             run_smooth),
      filter("dither", "ordered dither to eight colours (library)",
             {{.name = "method",
               .kind = Kind::kInteger,
               .value = "N",
               .help = "threshold matrix: 1 classical screen 8x8, 2 rectangular 3x3, "
                       "3 halftone 6x6, 4 Bayer 4x4, 5 Bayer 16x16, 6 four stars 5x5, "
                       "7 box 5x5",
               .fallback = "1",
               .min = 1,
               .max = 7}},
             run_dither),
      {.name = "blit",
       .summary = "draw image SRC onto DEST: opaque, blended, by brightness, scaled, masked or "
                  "as light (library)",
       .files = "DEST SRC OUTPUT",
       .inputs = 2,
       .output = true,
       .options = {{.name = "at",
                    .kind = Kind::kPoint,
                    .value = "X,Y",
                    .help = "where SRC's top-left pixel lands; may be negative",
                    .fallback = "0,0"},
                   {.name = "transparency",
                    .kind = Kind::kInteger,
                    .value = "PCT",
                    .help = "blend: 0 draws SRC as it is, 100 leaves DEST",
                    .min = 0,
                    .max = 100},
                   {.name = "alpha",
                    .kind = Kind::kInteger,
                    .value = "PCT",
                    .help = "SRC's brightness is its opacity (black never shows), faded by PCT",
                    .min = 0,
                    .max = 100},
                   {.name = "size",
                    .kind = Kind::kSize,
                    .value = "WxH",
                    .help = "stretch SRC to WxH by nearest sample"},
                   {.name = "mask",
                    .kind = Kind::kInteger,
                    .value = "T",
                    .help = "scaled, drawing only pixels whose red byte exceeds T",
                    .min = -1,
                    .max = 255},
                   {.name = "light",
                    .kind = Kind::kColour,
                    .value = "R,G,B",
                    .help = "add SRC, a 256x256 light map, tinted by these factors (255 = full)"}},
       .run = run_blit,
       .details = "DEST and SRC are both colour PPMs or both one-byte PGMs (the scaled blits "
                  "draw colour only).\nEverything is clipped to DEST."},
      filter("line", "draw a one-pixel line (library)",
             {point("from", "first end (drawn)"), point("to", "last end (drawn)"), kDrawColour},
             run_line),
      filter("box", "fill a box, or draw it as a grid of dots (library)",
             {point("from", "one corner (included)"),
              point("to", "the opposite corner (included)"),
              kDrawColour,
              {.name = "step",
               .kind = Kind::kInteger,
               .value = "N",
               .help = "1 fills; N draws every N-th pixel of every N-th row",
               .fallback = "1",
               .min = 1,
               .max = INT32_MAX}},
             run_box),
      {.name = "quit",
       .summary = "end a running corvixd (command 0)",
       .files = "",
       .inputs = 0,
       .output = false,
       .options = {},
       .run = run_quit,
       .details =
           "Ends the server named by --port (without it, the one serving " CORVIX_PORT_NAME ")."},
  };
}

}  // namespace

const std::vector<Operation> &operations() {
  static const std::vector<Operation> table = make_table();
  return table;
}

const Operation *find_operation(std::string_view name) {
  for (const Operation &op : operations())
    if (name == op.name) return &op;
  return nullptr;
}

}  // namespace corvix::cli
