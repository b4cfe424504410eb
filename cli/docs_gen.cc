// corvix_docs: writes, from the operation table, what the build installs beside the tool.
//
//   corvix_docs completion   a bash completion script for corvix
//   corvix_docs operations   an OPERATIONS section for help2man's --include file
//
// Both come from the same table as the usage text and the parser, so they never drift.
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/tool.h"

namespace corvix::cli {
namespace {

std::string words(const char *choices) {
  std::string out(choices);
  for (char &c : out)
    if (c == '|') c = ' ';
  return out;
}

void completion() {
  std::string names, cases, values;
  for (const Operation &op : operations()) {
    names += std::string(names.empty() ? "" : " ") + op.name;
    std::string options = "--help --port --quiet";
    for (const OptionDef &def : op.options) {
      options += std::string(" --") + def.name;
      if (def.kind == Kind::kFlag) continue;
      // What follows an option that takes a value: its words, a file, or anything typed.
      const std::string key = std::string(op.name) + ":--" + def.name;
      if (def.kind == Kind::kChoice)
        values += "    " + key + ") COMPREPLY=($(compgen -W '" + words(def.choices) +
                  "' -- \"$cur\")); return ;;\n";
      else if (def.kind == Kind::kText)
        values += "    " + key + ") COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n";
      else
        values += "    " + key + ") return ;;\n";
    }
    cases += std::string("    ") + op.name + ") options='" + options + "' ;;\n";
  }
  std::printf(
      "# bash completion for corvix, generated from its operation table.\n"
      "_corvix() {\n"
      "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} op='' i\n"
      "  local operations='%s'\n"
      "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      "    if [[ ${COMP_WORDS[i-1]} != --port && \" $operations \" == *\" ${COMP_WORDS[i]} \"* "
      "]]; then\n"
      "      op=${COMP_WORDS[i]}\n"
      "      break\n"
      "    fi\n"
      "  done\n"
      "  [[ $prev == --port ]] && return\n"
      "  if [[ -z $op ]]; then\n"
      "    COMPREPLY=($(compgen -W \"--help --version --port --quiet $operations\" -- "
      "\"$cur\"))\n"
      "    return\n"
      "  fi\n"
      "  case \"$op:$prev\" in\n"
      "%s"
      "  esac\n"
      "  local options\n"
      "  case $op in\n"
      "%s"
      "  esac\n"
      "  if [[ $cur == -* ]]; then\n"
      "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
      "  else\n"
      "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
      "  fi\n"
      "}\n"
      "complete -o filenames -F _corvix corvix\n",
      names.c_str(), values.c_str(), cases.c_str());
}

// roff needs a backslash doubled and a leading '.' or '\'' escaped.
std::string roff(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

void operations_section() {
  std::printf("[OPERATIONS]\n");
  for (const Operation &op : operations()) {
    std::printf(".TP\n\\fB%s\\fR %s\n%s\n", op.name, roff(op.files).c_str(),
                roff(op.summary).c_str());
    for (const OptionDef &def : op.options) {
      std::string more;
      if (def.kind == Kind::kChoice) more += "; one of " + roff(def.choices);
      if (def.fallback != nullptr) more += "; default " + roff(def.fallback);
      std::printf(".br\n\\fB\\-\\-%s\\fR%s%s: %s%s\n", roff(def.name).c_str(),
                  def.kind == Kind::kFlag ? "" : " ", def.kind == Kind::kFlag ? "" : def.value,
                  roff(def.help).c_str(), more.c_str());
    }
  }
}

}  // namespace
}  // namespace corvix::cli

int main(int argc, char **argv) {
  const std::string what = argc == 2 ? argv[1] : "";
  if (what == "completion") {
    corvix::cli::completion();
  } else if (what == "operations") {
    corvix::cli::operations_section();
  } else {
    std::fprintf(stderr, "usage: corvix_docs completion|operations\n");
    return 2;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
