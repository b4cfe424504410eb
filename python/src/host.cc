// A connection to a server for Python: shared blocks seen as numpy arrays without a copy, and
// the raw command call. The commands' argument words are filled in by corvix/_host.py.
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "common.h"
#include "platform/memory.h"

namespace corvix::python {
namespace {

// Shared by a Host object and every array on its memory: the segment stays mapped until the
// last of them goes, so an array stays readable after the host is closed or the server died.
struct Connection {
  corvix_host *host = nullptr;
  std::string port;
  std::mutex lock;      // guards the argument block, one command at a time
  uint32_t args = 0;    // the argument block, kept for every command; a Bitmap record of the
                        // command's frame follows the words
  bool closed = false;  // closed by the user: no further commands, blocks are not freed one
                        // by one (the server reclaims them all)
  ~Connection() { corvix_host_close(host); }
};

// Where the frame's record sits in the argument block.
constexpr uint32_t kRecordAt = 48;
static_assert(kRecordAt >= CORVIX_ARGUMENT_BLOCK_BYTES);

void put_record(uint8_t *r, uint32_t pixels, int32_t width, int32_t height, int32_t bpp) {
  corvix_put_be32(r, pixels);
  corvix_put_be32(r + 4, static_cast<uint32_t>(width));
  corvix_put_be32(r + 8, static_cast<uint32_t>(height));
  corvix_put_be32(r + 12, static_cast<uint32_t>(bpp));
}

struct Block {
  std::shared_ptr<Connection> connection;
  uint32_t address;
};

// The array's owner frees its block when the array goes.
py::capsule block_owner(const std::shared_ptr<Connection> &c, uint32_t address) {
  return py::capsule(new Block{c, address}, [](void *p) {
    auto *b = static_cast<Block *>(p);
    if (!b->connection->closed) corvix_host_free(b->connection->host, b->address);
    delete b;
  });
}

class HostHandle {
 public:
  explicit HostHandle(corvix_host *h, const std::string &what) {
    if (h == nullptr) throw Failure(what);
    c_ = std::make_shared<Connection>();
    c_->host = h;
    c_->port = corvix_host_port_name(h);
    c_->args = corvix_host_alloc(h, kRecordAt + 16, MEMF_CLEAR);
    if (c_->args == 0) throw Failure("the server on port '" + c_->port + "' gives no memory");
  }

  static HostHandle open(const std::string &port) {
    corvix_host *h;
    {
      py::gil_scoped_release free;
      h = corvix_host_open(port.c_str());
    }
    return HostHandle(h, "no server answers on port '" + port + "'");
  }
  static HostHandle embedded() {
    corvix_host *h;
    {
      py::gil_scoped_release free;
      h = corvix_host_embedded();
    }
    return HostHandle(h, "cannot start a server in this process");
  }

  void close() {
    if (!c_) return;
    c_->closed = true;
    c_.reset();
  }
  bool closed() const { return !c_; }
  std::string port() const { return c_ ? c_->port : std::string(); }

  // A cleared block of `size` bytes.
  uint32_t alloc(uint64_t size) {
    Connection &c = live();
    const uint32_t a =
        size > UINT32_MAX ? 0 : corvix_host_alloc(c.host, static_cast<uint32_t>(size), MEMF_CLEAR);
    if (a == 0) {
      if (corvix_host_stats(c.host, nullptr, nullptr) < 0) throw Failure(gone());
      raise_memory_error("the server on port '" + c.port + "' gives no block of " +
                         std::to_string(size) + " bytes (memory or this host's quota ran out)");
    }
    return a;
  }
  void free(uint32_t address) { corvix_host_free(live().host, address); }

  py::array array(const std::vector<py::ssize_t> &shape) {
    uint64_t size = 1;
    for (py::ssize_t n : shape) {
      if (n < 0) throw py::value_error("shape: a negative length");
      size *= static_cast<uint64_t>(n);
      if (size > UINT32_MAX) throw py::value_error("shape: more than 4 GiB");
    }
    const uint32_t a = alloc(size);
    return py::array(py::dtype::of<uint8_t>(), shape, {}, corvix_host_pointer(c_->host, a),
                     block_owner(c_, a));
  }

  // The shared address of an array's first byte; 0 when the array lies outside the segment.
  uint32_t address(py::handle object) {
    Connection &c = live();
    if (!py::isinstance<py::array>(object)) throw py::type_error("expected a numpy array");
    auto a = py::reinterpret_borrow<py::array>(object);
    const auto *base = static_cast<const uint8_t *>(corvix_host_pointer(c.host, 1)) - 1;
    const auto *p = static_cast<const uint8_t *>(a.data());
    if (p < base + kSegmentReserved || p >= base + kSegmentSize) return 0;
    return static_cast<uint32_t>(p - base);
  }

  // A new block holding a copy of the bytes.
  uint32_t put(py::handle object) {
    py::array a = bytes_arg(object, "array", kAnySize, "bytes");
    const uint32_t addr = alloc(static_cast<uint64_t>(a.size()));
    if (a.size() > 0) std::memcpy(corvix_host_pointer(c_->host, addr), a.data(), a.size());
    return addr;
  }

  // Sends a command with argument words 1.. and returns word 0 of the reply. With a frame
  // (pixels, width, height, bytes per pixel), word 1 names a record of it made in the argument
  // block, and `words` follow from word 2: one round trip for the command.
  uint32_t send(int32_t code, std::vector<uint32_t> words, std::optional<py::tuple> frame) {
    if (words.size() + (frame ? 1 : 0) > 9)
      throw py::value_error("words: at most 9 argument words");
    uint32_t pixels = 0;
    int32_t fw = 0, fh = 0, fbpp = 0;
    if (frame) {
      pixels = py::cast<uint32_t>((*frame)[0]);
      fw = py::cast<int32_t>((*frame)[1]);
      fh = py::cast<int32_t>((*frame)[2]);
      fbpp = py::cast<int32_t>((*frame)[3]);
      words.insert(words.begin(), 0);
    }
    std::shared_ptr<Connection> c = c_;
    live();
    int32_t status;
    uint32_t result = 0;
    {
      py::gil_scoped_release free;
      std::lock_guard<std::mutex> g(c->lock);
      auto *block = static_cast<uint8_t *>(corvix_host_pointer(c->host, c->args));
      if (frame) {
        put_record(block + kRecordAt, pixels, fw, fh, fbpp);
        words[0] = c->args + kRecordAt;
      }
      for (size_t i = 0; i < 10; ++i)
        corvix_put_be32(block + 4 * i, i >= 1 && i <= words.size() ? words[i - 1] : 0);
      status = corvix_host_send(c->host, code, c->args);
      if (status == 0) result = corvix_get_be32(block);
    }
    if (status == -EPIPE) throw Failure(gone());
    if (status < 0)
      throw Failure("the server on port '" + c->port + "' refused command " + std::to_string(code) +
                    " (a buffer outside this host's blocks)");
    return result;
  }

  // The pixels of a Bitmap record a command made, as an array that frees them when it goes;
  // the record is released now.
  py::array take_bitmap(uint32_t record, const std::string &what) {
    Connection &c = live();
    if (record == 0)
      raise_memory_error(what +
                         ": the server made no image (out of memory, or the result "
                         "would be too large)");
    const auto *r = static_cast<const uint8_t *>(corvix_host_pointer(c.host, record));
    const uint32_t pixels = corvix_get_be32(r);
    const auto w = static_cast<int32_t>(corvix_get_be32(r + 4)),
               h = static_cast<int32_t>(corvix_get_be32(r + 8)),
               bpp = static_cast<int32_t>(corvix_get_be32(r + 12));
    corvix_host_free(c.host, record);
    if (pixels == 0 || w < 0 || h < 0 || (bpp != 1 && bpp != 3))
      throw Failure(what + ": a malformed record");
    return view(static_cast<uint8_t *>(corvix_host_pointer(c.host, pixels)), w, h, bpp,
                block_owner(c_, pixels));
  }

  py::tuple take_range(uint32_t address) {
    Connection &c = live();
    if (address == 0) raise_memory_error("the server made no level record: out of memory");
    const auto *r = static_cast<const uint8_t *>(corvix_host_pointer(c.host, address));
    const auto lo = static_cast<int32_t>(corvix_get_be32(r)),
               hi = static_cast<int32_t>(corvix_get_be32(r + 4));
    corvix_host_free(c.host, address);
    return py::make_tuple(lo, hi);
  }

  py::tuple stats() {
    uint32_t all = 0, mine = 0;
    if (corvix_host_stats(live().host, &all, &mine) < 0) throw Failure(gone());
    return py::make_tuple(all, mine);
  }

 private:
  Connection &live() {
    if (!c_) throw Failure("the host is closed");
    return *c_;
  }
  std::string gone() const { return "the server on port '" + c_->port + "' is gone"; }

  std::shared_ptr<Connection> c_;
};

}  // namespace

void bind_host(py::module_ &m) {
  py::class_<HostHandle>(m, "HostHandle")
      .def_static("open", &HostHandle::open, py::arg("port"))
      .def_static("embedded", &HostHandle::embedded)
      .def("close", &HostHandle::close)
      .def_property_readonly("closed", &HostHandle::closed)
      .def_property_readonly("port", &HostHandle::port)
      .def("alloc", &HostHandle::alloc)
      .def("free", &HostHandle::free)
      .def("array", &HostHandle::array, py::arg("shape"))
      .def("address", &HostHandle::address)
      .def("put", &HostHandle::put)
      .def("send", &HostHandle::send, py::arg("code"), py::arg("words"),
           py::arg("frame") = std::nullopt)
      .def("take_bitmap", &HostHandle::take_bitmap)
      .def("take_range", &HostHandle::take_range)
      .def("stats", &HostHandle::stats);
}

}  // namespace corvix::python
