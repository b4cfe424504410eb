// corvix._corvix: the library's routines on numpy arrays. The tool's own operation table
// (cli/operations.cc) is handed to Python, which builds one function per operation from it;
// every call comes back through run(), which checks the options with the tool's parsers.
#include <cstring>
#include <new>

#include "common.h"

namespace corvix::python {

namespace {

const char *kind_name(cli::Kind kind) {
  switch (kind) {
    case cli::Kind::kFlag: return "flag";
    case cli::Kind::kInteger: return "integer";
    case cli::Kind::kNumber: return "number";
    case cli::Kind::kSize: return "size";
    case cli::Kind::kPoint: return "point";
    case cli::Kind::kRange: return "range";
    case cli::Kind::kColour: return "colour";
    case cli::Kind::kRect: return "rect";
    case cli::Kind::kChoice: return "choice";
    case cli::Kind::kText: return "text";
  }
  return "?";
}

py::object text_or_none(const char *s) {
  return s == nullptr ? py::object(py::none()) : py::object(py::str(s));
}

// The table as plain Python data.
py::list table() {
  py::list ops;
  for (const cli::Operation &op : cli::operations()) {
    py::list options;
    for (const cli::OptionDef &d : op.options) {
      py::dict o;
      o["name"] = d.name;
      o["kind"] = kind_name(d.kind);
      o["help"] = d.help;
      o["fallback"] = text_or_none(d.fallback);
      o["min"] = d.min;
      o["max"] = d.max;
      o["choices"] = text_or_none(d.choices);
      o["required"] = d.required;
      options.append(o);
    }
    py::dict entry;
    entry["name"] = op.name;
    entry["summary"] = op.summary;
    entry["details"] = text_or_none(op.details);
    entry["options"] = options;
    ops.append(entry);
  }
  return ops;
}

const cli::Operation &find(const std::string &name) {
  const cli::Operation *op = cli::find_operation(name);
  if (op == nullptr) throw py::value_error("no operation '" + name + "'");
  return *op;
}

const Implementation &implementation(const std::string &name) {
  for (const Implementation &impl : implementations())
    if (name == impl.name) return impl;
  throw py::value_error("'" + name + "' does not run in this process");
}

py::object run(const std::string &name, py::tuple arrays, py::dict options) {
  const cli::Operation &op = find(name);
  const Implementation &impl = implementation(name);
  if (arrays.size() != impl.arrays.size())
    throw py::type_error(name + "() takes " + std::to_string(impl.arrays.size()) +
                         " image arguments, got " + std::to_string(arrays.size()));
  Call call;
  call.arrays = arrays;
  prepare(op, options, impl.derived, &call);
  return impl.run(call);
}

py::dict check(const std::string &name, py::dict options, std::vector<std::string> derived) {
  const cli::Operation &op = find(name);
  std::vector<const char *> names;
  for (const std::string &d : derived) names.push_back(d.c_str());
  Call call;
  prepare(op, options, names, &call);
  py::dict typed = typed_values(op, call);
  for (auto item : call.objects) typed[item.first] = item.second;
  return typed;
}

// Files of any kind the library reads (netpbm, PNG, JPEG: chosen by their first bytes) and
// writes (chosen by the format or the name's extension).
py::array load(const std::string &path, py::object background) {
  int32_t bg = CORVIX_ALPHA_DROP;
  if (!background.is_none()) {
    const auto rgb = py::cast<std::vector<int>>(background);
    if (rgb.size() != 3)
      throw py::value_error("background must be three levels (red, green, blue)");
    for (int c : rgb)
      if (c < 0 || c > 255) throw py::value_error("background levels must be 0..255");
    bg = rgb[0] << 16 | rgb[1] << 8 | rgb[2];
  }
  Bitmap *made;
  {
    py::gil_scoped_release free;
    corvix_clear_error();
    made = corvix_load_image_ex(path.c_str(), bg, nullptr);
  }
  return adopt(made, "cannot read '" + path + "'");
}

void save(py::handle image, const std::string &path, py::object format, int quality) {
  Image in = image_arg(image, "image", Pixels::kEither, false);
  const std::string kind = format.is_none() ? "" : py::cast<std::string>(format);
  int32_t ok;
  {
    py::gil_scoped_release free;
    corvix_clear_error();
    ok =
        corvix_save_image(&in.bitmap, path.c_str(), kind.empty() ? nullptr : kind.c_str(), quality);
  }
  if (ok != 1) raise_reason("cannot write '" + path + "'");
}

}  // namespace

void prepare(const cli::Operation &op, py::dict options, const std::vector<const char *> &derived,
             Call *call) {
  for (auto item : options) {
    const std::string key = py::cast<std::string>(item.first);
    const cli::OptionDef *def = nullptr;
    for (const cli::OptionDef &d : op.options)
      if (key == d.name) def = &d;
    if (def == nullptr)
      throw py::type_error(std::string(op.name) + "() got an unexpected keyword argument '" + key +
                           "'");
    if (!py::isinstance<py::str>(item.second)) {
      if (def->kind != cli::Kind::kText) throw py::type_error(key + ": expected the value as text");
      call->objects[item.first] = item.second;
      continue;
    }
    const std::string text = py::cast<std::string>(item.second);
    const std::string why = cli::check_value(*def, text);
    if (!why.empty()) throw py::value_error(key + ": " + why + ", got '" + text + "'");
    call->values.set(key, text);
  }
  for (const cli::OptionDef &d : op.options) {
    if (call->values.has(d.name) || call->objects.contains(d.name)) continue;
    if (d.fallback != nullptr) {
      call->values.set(d.name, d.fallback);
      continue;
    }
    bool from_arrays = false;
    for (const char *name : derived) from_arrays |= std::strcmp(name, d.name) == 0;
    if (d.required && !from_arrays)
      throw py::type_error(std::string(op.name) + "() missing the required argument '" + d.name +
                           "'");
  }
}

py::dict typed_values(const cli::Operation &op, const Call &call) {
  const cli::Values &v = call.values;
  py::dict out;
  for (const cli::OptionDef &d : op.options) {
    if (!v.has(d.name)) continue;
    const std::string n = d.name;
    switch (d.kind) {
      case cli::Kind::kFlag: out[d.name] = true; break;
      case cli::Kind::kInteger: out[d.name] = v.integer(n); break;
      case cli::Kind::kNumber: out[d.name] = v.number(n); break;
      case cli::Kind::kSize: {
        const cli::Size s = v.size(n);
        out[d.name] = py::make_tuple(s.width, s.height);
        break;
      }
      case cli::Kind::kPoint: {
        const cli::Point p = v.point(n);
        out[d.name] = py::make_tuple(p.x, p.y);
        break;
      }
      case cli::Kind::kRange: {
        const cli::Range r = v.range(n);
        out[d.name] = py::make_tuple(r.low, r.high);
        break;
      }
      case cli::Kind::kColour: {
        const cli::Colour c = v.colour(n);
        out[d.name] = py::make_tuple(c.red, c.green, c.blue);
        break;
      }
      case cli::Kind::kRect: {
        const cli::Rect r = v.rect(n);
        out[d.name] = py::make_tuple(r.width, r.height, r.x, r.y);
        break;
      }
      case cli::Kind::kChoice:
      case cli::Kind::kText: out[d.name] = v.text(n); break;
    }
  }
  return out;
}

[[noreturn]] void raise_memory_error(const std::string &message) {
  PyErr_SetString(PyExc_MemoryError, message.c_str());
  throw py::error_already_set();
}

[[noreturn]] void raise_reason(const std::string &fallback) {
  const std::string reason = corvix_last_error();
  const std::string message = reason.empty() ? fallback : fallback + ": " + reason;
  if (corvix_last_error_class() == CORVIX_E_NOMEM) raise_memory_error(message);
  throw Failure(message);
}

void check_reason(const std::string &what) {
  if (corvix_last_error_class() != CORVIX_E_NONE) raise_reason(what);
}

}  // namespace corvix::python

PYBIND11_MODULE(_corvix, m) {
  namespace py = pybind11;
  using namespace corvix::python;
  m.doc() = "corvix's routines on numpy arrays (use the corvix package, not this module)";
  py::register_exception<Failure>(m, "Error", PyExc_RuntimeError);
  m.def("table", &table, "The tool's operations and their options.");
  m.def("implementations", [] {
    py::dict out;
    for (const Implementation &impl : implementations()) {
      py::list arrays, derived;
      for (const char *a : impl.arrays) arrays.append(a);
      for (const char *d : impl.derived) derived.append(d);
      out[impl.name] = py::make_tuple(arrays, impl.in_place, derived);
    }
    return out;
  });
  m.def("run", &run, py::arg("name"), py::arg("arrays"), py::arg("options"));
  m.def("check", &check, py::arg("name"), py::arg("options"), py::arg("derived"));
  m.def("load", &load, py::arg("path"), py::arg("background") = py::none());
  m.def("save", &save, py::arg("image"), py::arg("path"), py::arg("format") = py::none(),
        py::arg("quality") = 90);
  m.def("last_error",
        [] { return py::make_tuple(corvix_last_error(), corvix_last_error_class()); });
  m.def("alloc_stats", [] {
    uint64_t blocks = 0, bytes = 0;
    corvix_alloc_stats(&blocks, &bytes);
    return py::make_tuple(blocks, bytes);
  });
  m.def("alloc_fail_nth", [](uint32_t n) { corvix_alloc_fail_nth(n); });
  m.attr("PORT_NAME") = CORVIX_PORT_NAME;
  m.attr("VERSION") = CORVIX_VERSION_STRING;
  // Pieces the host's operations share with the in-process ones.
  m.def("image_info", [](py::handle image, const char *name, const std::string &pixels,
                         bool writable) {
    Image im = image_arg(image, name,
                         pixels == "colour" ? Pixels::kColour
                         : pixels == "grey" ? Pixels::kGrey
                                            : Pixels::kEither,
                         writable);
    return py::make_tuple(im.keep, im.bitmap.width, im.bitmap.height, im.bitmap.bytes_per_pixel);
  });
  m.def("yuv_planes", [](py::handle y, py::handle u, py::handle v, py::object size, int32_t group) {
    const Planes p = yuv_planes(y, u, v, size, group);
    return py::make_tuple(p.y, p.u, p.v, p.width, p.height);
  });
  m.def("swap_outer", &swap_outer);
  m.def("palette_pens", [](py::handle palette) {
    const std::vector<uint8_t> t = palette_pens(palette);
    return py::bytes(reinterpret_cast<const char *>(t.data()), t.size());
  });
  bind_host(m);
}
