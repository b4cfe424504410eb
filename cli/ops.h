// The run function of every operation; operations.cc lists them with their options.
#ifndef CORVIX_CLI_OPS_H
#define CORVIX_CLI_OPS_H

#include "cli/tool.h"

namespace corvix::cli {

// Through the server.
void run_yuv2rgb(Job &job);
void run_scale(Job &job);
void run_remap(Job &job);
void run_pens(Job &job);
void run_correct(Job &job);
void run_fade(Job &job);
void run_raise(Job &job);
void run_fadeover(Job &job);
void run_deinterlace(Job &job);
void run_turn(Job &job);
void run_mirror(Job &job);
void run_invert(Job &job);
void run_levels(Job &job);
void run_stretch(Job &job);
void run_autolevel(Job &job);
void run_quit(Job &job);

// In this process, through the library.
void run_rotate(Job &job);
void run_shear(Job &job);
void run_transpose(Job &job);
void run_cut(Job &job);
void run_smooth(Job &job);
void run_dither(Job &job);
void run_blit(Job &job);
void run_line(Job &job);
void run_box(Job &job);
void run_rgb2yuv(Job &job);

}  // namespace corvix::cli

#endif
