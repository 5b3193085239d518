// Which kernel families the picture dispatch can reach. A family that is not
// built into the library yet leaves its dispatch paths returning
// KZ_ERR_NOT_SUPPORTED (-2); its tests skip. One switch per family, all here.
#pragma once

// Bit-depth conversion: shifts, container changes, conversion through LUTs.
#define KZ_PIC_HAVE_DEPTH_KERNELS 1
// Value mapping and component extraction through LUTs.
#define KZ_PIC_HAVE_LUTMAP_KERNELS 1
// Histogram counting and adding.
#define KZ_PIC_HAVE_HISTO_KERNELS 1
// 1-bit picture unpacking.
#define KZ_PIC_HAVE_UNPACK_KERNELS 1
// Composition of components into true colour, with exposure marking.
#define KZ_PIC_HAVE_COMPOSE_KERNELS 1
// Spectral rendering and statistics.
#define KZ_PIC_HAVE_SPECTRAL_KERNELS 1
// Resampling by nearest neighbour (rectangle and windowed display stretch).
#define KZ_PIC_HAVE_QUICK_STRETCH_KERNELS 1
// Float resampling: separable filtered passes and filtered display.
#define KZ_PIC_HAVE_FLOAT_STRETCH_KERNELS 1

// The same as constants, for tests and code that branches at compile time.
inline constexpr bool kKzPicHaveDepth = KZ_PIC_HAVE_DEPTH_KERNELS;
inline constexpr bool kKzPicHaveLutMap = KZ_PIC_HAVE_LUTMAP_KERNELS;
inline constexpr bool kKzPicHaveHisto = KZ_PIC_HAVE_HISTO_KERNELS;
inline constexpr bool kKzPicHaveUnpack = KZ_PIC_HAVE_UNPACK_KERNELS;
inline constexpr bool kKzPicHaveCompose = KZ_PIC_HAVE_COMPOSE_KERNELS;
inline constexpr bool kKzPicHaveSpectral = KZ_PIC_HAVE_SPECTRAL_KERNELS;
inline constexpr bool kKzPicHaveQuickStretch = KZ_PIC_HAVE_QUICK_STRETCH_KERNELS;
inline constexpr bool kKzPicHaveFloatStretch = KZ_PIC_HAVE_FLOAT_STRETCH_KERNELS;
