// The table of operations: names, one-line descriptions, files, options and run functions.
// main.cc builds the usage text and the parser from it, so the two never drift apart.
#include "cli/ops.h"
#include "corvix/commands.h"

namespace corvix::cli {
namespace {

// An option with a value of the given kind and no default.
constexpr OptionDef option(const char *name, Kind kind, const char *value, const char *help) {
  return {.name = name, .kind = kind, .value = value, .help = help};
}

// The option made one that must be given.
constexpr OptionDef required(OptionDef def) {
  def.required = true;
  return def;
}

// The plain shapes of option: a switch, a whole number in bounds, a word from a list, a size,
// a file name, a colour.
constexpr OptionDef flag(const char *name, const char *help) {
  return option(name, Kind::kFlag, "", help);
}

constexpr OptionDef integer_option(const char *name, const char *value, const char *help,
                                   int64_t min, int64_t max, const char *fallback = nullptr) {
  return {.name = name,
          .kind = Kind::kInteger,
          .value = value,
          .help = help,
          .fallback = fallback,
          .min = min,
          .max = max};
}

// The level N that raise and fadeover must be given.
constexpr OptionDef level_option(const char *help, int64_t max) {
  return required(integer_option("level", "N", help, -1, max));
}

constexpr OptionDef choice(const char *name, const char *value, const char *help,
                           const char *choices, const char *fallback = nullptr) {
  return {.name = name,
          .kind = Kind::kChoice,
          .value = value,
          .help = help,
          .fallback = fallback,
          .choices = choices};
}

constexpr OptionDef size_option(const char *name, const char *help) {
  return option(name, Kind::kSize, "WxH", help);
}

constexpr OptionDef file_option(const char *name, const char *help) {
  return option(name, Kind::kText, "FILE", help);
}

constexpr OptionDef colour_option(const char *name, const char *help,
                                  const char *fallback = nullptr) {
  OptionDef def = option(name, Kind::kColour, "R,G,B", help);
  def.fallback = fallback;
  return def;
}

// The layout of YUV frames: ffmpeg's pixel-format names, and the group size as a short form.
constexpr OptionDef pix_fmt(const char *choices, const char *help) {
  return choice("pix-fmt", "FMT", help, choices);
}

constexpr OptionDef kChroma =
    choice("chroma", "N", "short for --pix-fmt: 4 (yuv411p), 2 (yuv422p), 1 (yuv444p)", "4|2|1");

constexpr OptionDef kBackground =
    colour_option("background", "colour of the uncovered area (a one-byte image uses R)", "0,0,0");

// The drawing operations' shared options.
constexpr OptionDef point(const char *name, const char *help) {
  return required(option(name, Kind::kPoint, "X,Y", help));
}

constexpr OptionDef kDrawColour =
    colour_option("colour", "its colour (a one-byte image takes R)", "255,255,255");

constexpr OptionDef channel_range(const char *name, const char *help) {
  return {
      .name = name, .kind = Kind::kRange, .value = "LOW,HIGH", .help = help, .fallback = "0,255"};
}

Operation operation(const char *name, const char *summary, const char *files, int inputs,
                    bool output, std::vector<OptionDef> options, void (*run)(Job &),
                    const char *details) {
  return {.name = name,
          .summary = summary,
          .files = files,
          .inputs = inputs,
          .output = output,
          .options = std::move(options),
          .run = run,
          .details = details};
}

// The common shape: one input image, one output image.
Operation filter(const char *name, const char *summary, std::vector<OptionDef> options,
                 void (*run)(Job &), const char *details = nullptr) {
  return operation(name, summary, "INPUT OUTPUT", 1, true, std::move(options), run, details);
}

// Two input images, such as two frames, combined into one output image.
Operation blend(const char *name, const char *summary, const char *files,
                std::vector<OptionDef> options, void (*run)(Job &), const char *details = nullptr) {
  return operation(name, summary, files, 2, true, std::move(options), run, details);
}

std::vector<Operation> make_table() {
  return {
      filter("yuv2rgb",
             "convert YUV video frames (y4m or raw) to PPM (command 2; with --resize command 10)",
             {pix_fmt("yuv411p|yuv422p|yuv444p|yuv420p|nv12",
                      "the layout of raw frames, as ffmpeg names it (a y4m stream names its own)"),
              kChroma,
              size_option("size", "the frame size of raw frames (a y4m stream gives its own)"),
              size_option("resize", "scale every frame to WxH while converting"),
              flag("raw", "write one raw stream of 3-byte pixels, blue first (bgr24)")},
             run_yuv2rgb,
             "INPUT is a YUV4MPEG2 stream (ffmpeg -f yuv4mpegpipe; C411, C422, C444 or C420, "
             "progressive),\nwhose header gives the frame size and layout, or raw frames "
             "(ffmpeg -f rawvideo), whose\nlayout --pix-fmt and --size must name: Y, then U "
             "(Cb), then V (Cr), or for nv12 Y, then\nU,V pairs. 4:2:0 frames give each row "
             "the chroma row of its pair of rows.\nOne frame goes to OUTPUT as named; several "
             "go to numbered files when OUTPUT is a pattern\nsuch as frame-%04d.ppm (numbered "
             "from 1), or, with --raw, to one stream that ffmpeg reads\nas -f rawvideo "
             "-pix_fmt bgr24. A progress bar shows on a terminal (--quiet hides it)."),
      operation(
          "rgb2yuv", "make YUV video frames (BT.601 studio range, raw or y4m) from PPM images",
          "INPUT... OUTPUT", -1, true,
          {pix_fmt("yuv411p|yuv422p|yuv444p|yuv420p|nv12", "the frames' layout (default yuv411p)"),
           kChroma,
           choice("format", "KIND",
                  "y4m: a YUV4MPEG2 stream; raw: bare planes (default: y4m when OUTPUT ends in "
                  ".y4m)",
                  "y4m|raw")},
          run_rgb2yuv,
          "Writes one frame per INPUT, in order: the Y plane, then U (Cb), then V (Cr) (for "
          "nv12\nU,V pairs), each chroma sample the mean of its group of pixels. The inverse of "
          "yuv2rgb;\nffmpeg reads raw frames as -f rawvideo -pix_fmt FMT -video_size WxH, and a "
          "y4m stream as\nit is."),
      filter("scale", "resize by nearest sample (command 9; command 3 for one-byte frames)",
             {required(size_option("size", "new size"))}, run_scale,
             "INPUT is a colour PPM or a one-byte PGM frame (cube indices, pens); the "
             "result has the same\nkind."),
      filter("remap",
             "reduce colours to the 6x6x6 cube: one-byte PGM of cube indices or pens "
             "(command 4)",
             {file_option("palette",
                          "a PPM whose pixels are a screen's pens 0, 1, ... (at most 256): "
                          "write the nearest pen instead of the cube index"),
              file_option("preview", "also write the colours the result stands for as a PPM")},
             run_remap),
      filter("pens", "translate a PGM of cube indices to a palette's pens (command 6)",
             {required(file_option(
                  "palette", "a PPM whose pixels are a screen's pens 0, 1, ... (at most 256)")),
              file_option("preview", "also write the pens' colours as a PPM")},
             run_pens),
      filter("correct", "contrast, brightness and negative (command 5)",
             {integer_option("contrast", "PCT",
                             "contrast in percent: 100 keeps it, more spreads levels away from "
                             "128",
                             -100000, 100000, "100"),
              integer_option("brightness", "N", "added to every level after the contrast", -100000,
                             100000, "0"),
              flag("negative", "turn the result into its negative")},
             run_correct),
      blend("fade", "cross-fade frame A into frame B (command 7)", "A B OUTPUT",
            {integer_option("level", "N", "0 gives A, 255 gives B", 0, 255, "128")}, run_fade),
      filter("raise", "raise dark levels: bytes at or below N become N + 1 (command 11)",
             {level_option("-1 changes nothing, 254 makes every byte 255", 254)}, run_raise),
      blend("fadeover", "bytes of A at or below N are replaced by B's (command 12)", "A B OUTPUT",
            {level_option("-1 keeps A, 255 gives B", 255)}, run_fadeover),
      filter("deinterlace",
             "line doubling: every odd row becomes a copy of the row above (command 8)", {},
             run_deinterlace),
      filter("turn", "turn by quarter turns, clockwise (command 13)",
             {choice("angle", "DEG", "90, 180 or 270 degrees clockwise", "90|180|270", "90")},
             run_turn),
      filter("mirror", "turn upside down and/or mirror left to right (command 14)",
             {flag("vertical", "turn upside down (the rows' order reversed)"),
              flag("horizontal", "mirror left to right (each row reversed)")},
             run_mirror),
      filter("invert", "negative: every byte b becomes 255 - b (command 15)", {}, run_invert),
      operation("levels", "print the lowest and highest level of each channel (command 17)",
                "INPUT", 1, false,
                {choice("channel", "NAME",
                        "print only this channel's MIN MAX: red, green, blue or average",
                        "red|green|blue|average")},
                run_levels,
                "Without --channel prints four lines: red, green, blue and average (the "
                "per-pixel mean of the\nthree), each followed by its minimum and maximum."),
      filter(
          "stretch", "stretch each channel's range to 0..255, then a master range (command 16)",
          {channel_range("red", "levels at or below LOW become 0, at or above HIGH 255"),
           channel_range("green", "the same for green"), channel_range("blue", "the same for blue"),
           channel_range("master", "then applied to every channel's result")},
          run_stretch),
      filter("autolevel", "stretch each channel from its own lowest to highest level (command 18)",
             {}, run_autolevel),
      filter("rotate", "rotate by any angle into a larger image, bilinear (library)",
             {required(option("angle", Kind::kNumber, "DEG", "degrees, counter-clockwise")),
              kBackground},
             run_rotate),
      filter("shear", "shift a band of rows right by amounts that grow linearly (library)",
             {option("rows", Kind::kRange, "FIRST,LAST", "the band of rows (default: every row)"),
              required(option("shift", Kind::kRange, "A,B",
                              "shift in pixels at the band's first and last row, 0 or more")),
              kBackground},
             run_shear),
      filter("transpose", "mirror about the main diagonal: rows become columns (library)", {},
             run_transpose),
      filter("cut", "copy a rectangle out; parts past the edges are black (library)",
             {required(option("rect", Kind::kRect, "WxH+X+Y",
                              "W x H pixels from (X, Y); X and Y may be negative (WxH-X-Y)"))},
             run_cut),
      filter("smooth", "soften with passes of a five-point filter (library)",
             {integer_option("passes", "N", "number of passes", 0, 10000, "1")}, run_smooth),
      filter("dither", "ordered dither to eight colours (library)",
             {integer_option("method", "N",
                             "threshold matrix: 1 classical screen 8x8, 2 rectangular 3x3, "
                             "3 halftone 6x6, 4 Bayer 4x4, 5 Bayer 16x16, 6 four stars 5x5, "
                             "7 box 5x5",
                             1, 7, "1")},
             run_dither),
      blend("blit",
            "draw image SRC onto DEST: opaque, blended, by brightness, scaled, masked or as light "
            "(library)",
            "DEST SRC OUTPUT",
            {{.name = "at",
              .kind = Kind::kPoint,
              .value = "X,Y",
              .help = "where SRC's top-left pixel lands; may be negative",
              .fallback = "0,0"},
             integer_option("transparency", "PCT", "blend: 0 draws SRC as it is, 100 leaves DEST",
                            0, 100),
             integer_option("alpha", "PCT",
                            "SRC's brightness is its opacity (black never shows), faded by PCT", 0,
                            100),
             size_option("size", "stretch SRC to WxH by nearest sample"),
             integer_option("mask", "T", "scaled, drawing only pixels whose red byte exceeds T", -1,
                            255),
             colour_option("light",
                           "add SRC, a 256x256 light map, tinted by these factors (255 = full)")},
            run_blit,
            "DEST and SRC are both colour PPMs or both one-byte PGMs (the scaled blits "
            "draw colour only).\nEverything is clipped to DEST."),
      filter("line", "draw a one-pixel line (library)",
             {point("from", "first end (drawn)"), point("to", "last end (drawn)"), kDrawColour},
             run_line),
      filter("box", "fill a box, or draw it as a grid of dots (library)",
             {point("from", "one corner (included)"), point("to", "the opposite corner (included)"),
              kDrawColour,
              integer_option("step", "N", "1 fills; N draws every N-th pixel of every N-th row", 1,
                             INT32_MAX, "1")},
             run_box),
      operation("quit", "end a running corvixd (command 0)", "", 0, false, {}, run_quit,
                "Ends the server named by --port (without it, the one serving " CORVIX_PORT_NAME
                ")."),
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
