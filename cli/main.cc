// corvix: every operation of the image server and its graphics library from the shell.
//
//   corvix OPERATION [options] INPUT... OUTPUT
//
// The parser and the usage text are built from the operation table (operations.cc). Exit
// codes: 0 done, 1 a failure while working, 2 a mistake in the command line.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cli/tool.h"

namespace corvix::cli {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Parsed {
  std::string port;
  bool quiet = false;
  int threads = 0;  // 0: the library's default
  std::string format, background;
  int quality = 90;
  // One entry per operation, in table order.
  std::vector<std::vector<std::string>> files;
  std::vector<CLI::App *> commands;
};

void add_operation(CLI::App &app, const Operation &op, std::vector<std::string> &files,
                   Parsed &parsed) {
  CLI::App *sub = app.add_subcommand(op.name, op.summary);
  sub->group("Operations");
  for (const OptionDef &def : op.options) {
    const std::string flag = std::string("--") + def.name;
    if (def.kind == Kind::kFlag) {
      sub->add_flag(flag, def.help);
      continue;
    }
    CLI::Option *o = sub->add_option(flag, def.help);
    o->type_name(def.value);
    o->check(CLI::Validator([&def](std::string &text) { return check_value(def, text); }, "", ""));
    if (def.fallback != nullptr) o->default_str(def.fallback);
    if (def.required) o->required();
  }
  sub->add_option("files", files, op.files)->type_name("");
  std::string footer =
      std::string("\nFiles: ") + (*op.files ? op.files : "none") +
      (op.output ? " ('-' is standard input or output; without OUTPUT the result goes to "
                   "standard output)"
                 : "");
  if (op.details != nullptr) footer += std::string("\n\n") + op.details;
  sub->footer(footer);
  parsed.commands.push_back(sub);
}

// The usage line names the operation's files, which the footer explains; the generated list
// of positionals would only repeat them.
class Format : public CLI::Formatter {
 public:
  Format() { label("SUBCOMMAND", "OPERATION"); }
  std::string make_usage(const CLI::App *app, std::string) const override {
    const Operation *op = app->get_parent() != nullptr ? find_operation(app->get_name()) : nullptr;
    if (op == nullptr)
      return "Usage: corvix [--port NAME] [--threads N] [--quiet] [--format F] [--quality N] "
             "[--background R,G,B] OPERATION [options] FILES...\n";
    return std::string("Usage: corvix ") + op->name + " [options] " + op->files + "\n";
  }
  std::string make_positionals(const CLI::App *) const override { return {}; }
};

// Edit distance between two short words (insertions, deletions, substitutions).
size_t distance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// The first word of the command line that is neither an option of the whole tool nor its
// value: where the operation's name belongs. Empty when there is none.
std::string first_word(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    // The tool's options that take a value in the next word.
    if (a == "--port" || a == "--threads" || a == "--format" || a == "--quality" ||
        a == "--background") {
      ++i;
      continue;
    }
    if (a.empty() || a[0] != '-' || a == "-") return std::string(a);
  }
  return {};
}

// "unknown operation 'invrt'; did you mean 'invert'?" for a first word that names no
// operation; empty when it names one.
std::string unknown_operation(const std::string &word) {
  if (word.empty() || find_operation(word) != nullptr) return {};
  std::string message = "unknown operation '" + word + "'";
  const Operation *nearest = nullptr;
  size_t best = 0;
  for (const Operation &op : operations()) {
    const size_t d = distance(word, op.name);
    if (nearest == nullptr || d < best) {
      nearest = &op;
      best = d;
    }
  }
  // Close means a slip of a key or two, not a different word.
  if (nearest != nullptr && best <= 2 && 2 * best < std::string_view(nearest->name).size())
    message += std::string("; did you mean '") + nearest->name + "'?";
  return message;
}

const char kNotes[] =
    "\nImages are read as PPM, PGM (binary or plain), PNG or JPEG, told apart by their first\n"
    "bytes, and written as PNG or JPEG when the output's name ends in .png, .jpg or .jpeg, else\n"
    "as binary PPM (P6), or PGM (P5) for one-byte frames (cube indices, pens). Operations with\n"
    "one input process every image of a PPM/PGM stream in turn.\n"
    "'-' is standard input or output. Operations that name a command run in an image server:\n"
    "one inside this process, or a running corvixd named by --port NAME. Try\n"
    "'corvix OPERATION --help' for an operation's options.";

int run(int argc, char **argv) {
  CLI::App app("corvix: image operations through the corvix server and graphics library", "corvix");
  app.formatter(std::make_shared<Format>());
  app.set_version_flag("--version", std::string("corvix ") + CORVIX_VERSION_STRING);
  // Options of the whole tool may also follow the operation's name.
  app.fallthrough();
  Parsed parsed;
  app.add_option("--port", parsed.port, "run server commands in the corvixd serving NAME")
      ->type_name("NAME");
  app.add_flag("--quiet,-q", parsed.quiet, "no progress bar or messages on standard error");
  app.add_option("--threads", parsed.threads,
                 "threads for the work done in this process (default: CORVIX_THREADS, else "
                 "every core it may run on)")
      ->type_name("N")
      ->check(CLI::Range(1, 256).description(""));
  app.add_option("--format", parsed.format,
                 "write images as FORMAT whatever the output's name (standard output is "
                 "PPM/PGM otherwise)")
      ->type_name("ppm|pgm|png|jpeg")
      ->check(CLI::IsMember({"ppm", "pgm", "pnm", "png", "jpeg", "jpg"}));
  app.add_option("--quality", parsed.quality, "JPEG quality of written images (default 90)")
      ->type_name("1..100")
      ->check(CLI::Range(1, 100));
  app.add_option("--background", parsed.background,
                 "compose transparent images over this colour instead of dropping the "
                 "transparency")
      ->type_name("R,G,B")
      ->check(CLI::Validator(
          [](std::string &text) {
            return parse_colour(text) ? std::string() : "R,G,B: three values 0..255";
          },
          "", ""));
  app.require_subcommand(0, 1);
  app.footer(kNotes);
  parsed.files.resize(operations().size());
  for (size_t i = 0; i < operations().size(); ++i)
    add_operation(app, operations()[i], parsed.files[i], parsed);

  if (const std::string unknown = unknown_operation(first_word(argc, argv)); !unknown.empty()) {
    std::fprintf(stderr, "corvix: %s\nTry 'corvix --help' for the list of operations.\n",
                 unknown.c_str());
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp &e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion &e) {
    return app.exit(e);
  } catch (const CLI::ParseError &e) {
    std::string where;
    for (CLI::App *sub : parsed.commands)
      if (sub->parsed()) where = sub->get_name();
    std::fprintf(stderr, "corvix: %s%s\nTry 'corvix %s--help' for usage.\n",
                 where.empty() ? "" : (where + ": ").c_str(), e.what(),
                 where.empty() ? "" : (where + " ").c_str());
    return kExitUsage;
  }

  const Operation *op = nullptr;
  size_t index = 0;
  for (size_t i = 0; i < parsed.commands.size(); ++i) {
    if (parsed.commands[i]->parsed()) {
      op = &operations()[i];
      index = i;
    }
  }
  if (op == nullptr) {
    std::fprintf(stderr, "%s", app.help().c_str());
    std::fprintf(stderr, "\ncorvix: name an operation\n");
    return kExitUsage;
  }

  if (parsed.threads > 0) corvix_set_threads(parsed.threads);
  try {
    Values values;
    for (const OptionDef &def : op->options) {
      const CLI::Option *o = parsed.commands[index]->get_option(std::string("--") + def.name);
      if (o->count() > 0)
        values.set(def.name, def.kind == Kind::kFlag ? "" : o->as<std::string>());
      else if (def.fallback != nullptr)
        values.set(def.name, def.fallback);
    }
    std::vector<std::string> inputs;
    std::string output;
    assign_files(*op, parsed.files[index], &inputs, &output);
    ImageOptions image;
    image.format = parsed.format;
    image.quality = parsed.quality;
    image.quiet = parsed.quiet;
    if (!parsed.background.empty()) {
      const Colour c = *parse_colour(parsed.background);
      image.background = (c.red << 16) | (c.green << 8) | c.blue;
    }
    set_image_options(image);
    Job job(*op, std::move(values), std::move(inputs), std::move(output), parsed.port,
            parsed.quiet);
    run_over_images(*op, job);
  } catch (const UsageError &e) {
    std::fprintf(stderr, "corvix: %s: %s\n", op->name, e.what());
    return kExitUsage;
  } catch (const Failure &e) {
    std::fprintf(stderr, "corvix: %s: %s\n", op->name, e.what());
    return kExitFailure;
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "corvix: %s: out of memory\n", op->name);
    return kExitFailure;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "corvix: %s: %s\n", op->name, e.what());
    return kExitFailure;
  }
  return 0;
}

}  // namespace
}  // namespace corvix::cli

int main(int argc, char **argv) { return corvix::cli::run(argc, argv); }
