#pragma once
// Seed inputs of the fuzz targets, made with the image builder so that no
// binary fixture needs to be kept: valid images in several shapes, and
// partition strings and environment blobs from the grammar's examples.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using FuzzSeed = std::pair<std::string, std::vector<uint8_t>>; // (name, bytes)

std::vector<FuzzSeed> imageReaderSeeds();
std::vector<FuzzSeed> partitionSeeds();
// Serial lines: asked length, then the board's handshake answer and frames.
std::vector<FuzzSeed> uartSeeds();
