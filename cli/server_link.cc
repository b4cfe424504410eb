// The tool's side of a server: shared copies of images, commands, results copied back.
#include <cerrno>
#include <cstring>
#include <string>

#include "cli/tool.h"
#include "corvix/commands.h"
#include "corvix/error.h"

namespace corvix::cli {
namespace {

constexpr uint32_t kArgumentBytes = CORVIX_ARGUMENT_BLOCK_BYTES;  // word 0 and words 1..9

std::string port_description(const std::string &port) {
  return port.empty() ? std::string("the embedded server") : "the server on port '" + port + "'";
}

}  // namespace

Server::Server(const std::string &port)
    : host_(port.empty() ? Host::embedded() : Host::open(port.c_str())), port_(port) {
  if (!host_) {
    // The host library says why: an unusable runtime directory, a port nobody serves.
    const std::string why = corvix_last_error();
    throw Failure(port.empty()
                      ? "cannot start the embedded server" + (why.empty() ? "" : ": " + why)
                      : "no server answers on port '" + port + "'" +
                            (why.empty() ? "" : ": " + why) + " (start one with: corvixd --port " +
                            port + ")");
  }
  args_ = host_.alloc(kArgumentBytes, MEMF_CLEAR);
  if (args_ == 0) throw Failure(port_description(port) + " refused shared memory");
}

// Closing the connection hands every block of ours back to the server.
Server::~Server() = default;

uint32_t Server::block(uint64_t size) {
  const uint32_t a = size <= UINT32_MAX ? host_.alloc(static_cast<uint32_t>(size), MEMF_ANY) : 0;
  if (a == 0)
    throw Failure(port_description(port_) + " refused " + std::to_string(size) +
                  " bytes of shared memory");
  return a;
}

uint32_t Server::share(const void *data, uint64_t size) {
  const uint32_t a = block(size);
  if (size > 0) std::memcpy(at(a), data, size);
  return a;
}

uint32_t Server::share(const Bitmap &b) {
  const uint64_t size = static_cast<uint64_t>(b.width) * static_cast<uint64_t>(b.height) *
                        static_cast<uint64_t>(b.bytes_per_pixel);
  const uint32_t record = host_.bitmap(share(b.pixels, size), b.width, b.height, b.bytes_per_pixel);
  if (record == 0) throw Failure(port_description(port_) + " refused shared memory");
  return record;
}

void Server::release(uint32_t address) {
  if (address != 0) host_.free(address);
}

uint8_t *Server::at(uint32_t address) { return host_.at(address); }

uint32_t Server::command(int32_t code, const std::vector<uint32_t> &words) {
  uint8_t *a = at(args_);
  std::memset(a, 0, kArgumentBytes);
  if (words.size() > 9) throw Failure("a command takes at most nine argument words");
  int n = 1;
  for (uint32_t w : words) corvix_put_be32(a + 4 * n++, w);
  const int32_t status = host_.send(code, args_);
  if (status == -EFAULT)
    throw Failure(port_description(port_) + " refused command " + std::to_string(code) +
                  ": it names memory outside this host's blocks");
  if (status < 0)
    throw Failure(port_description(port_) + " did not answer command " + std::to_string(code) +
                  " (" + std::strerror(-status) + ")");
  return corvix_get_be32(a);
}

void Server::fetch(uint32_t record, Bitmap &into) {
  const uint32_t pixels = host_.pixels_of(record);
  const size_t size = static_cast<size_t>(into.width) * static_cast<size_t>(into.height) *
                      static_cast<size_t>(into.bytes_per_pixel);
  if (size > 0) std::memcpy(into.pixels, at(pixels), size);
}

BitmapPtr Server::take_bitmap(uint32_t record, int32_t code) {
  if (record == 0)
    throw Failure(port_description(port_) + " made no image for command " + std::to_string(code) +
                  " (out of memory)");
  const Bitmap made = host_.read_bitmap(record);
  const int32_t width = made.width, height = made.height, bpp = made.bytes_per_pixel;
  const uint64_t size = static_cast<uint64_t>(width < 0 ? 0 : width) *
                        static_cast<uint64_t>(height < 0 ? 0 : height) *
                        static_cast<uint64_t>(bpp < 0 ? 0 : bpp);
  const uint8_t *src = made.pixels;
  if (width < 0 || height < 0 || (bpp != 1 && bpp != 3) || (size > 0 && src == nullptr) ||
      size > INT32_MAX) {
    throw Failure(port_description(port_) + " returned a malformed image for command " +
                  std::to_string(code));
  }
  BitmapPtr out = new_bitmap(width, height, bpp);
  if (size > 0) std::memcpy(out->pixels, src, size);
  host_.free_bitmap(record);
  return out;
}

LevelRange Server::take_range(uint32_t record, int32_t code) {
  if (record == 0)
    throw Failure(port_description(port_) + " returned no level range for command " +
                  std::to_string(code) + " (out of memory)");
  const uint8_t *r = at(record);
  const LevelRange range{static_cast<int32_t>(corvix_get_be32(r)),
                         static_cast<int32_t>(corvix_get_be32(r + 4))};
  release(record);
  return range;
}

Server &Job::server() {
  if (!server_) server_ = std::make_unique<Server>(port_);
  return *server_;
}

}  // namespace corvix::cli
