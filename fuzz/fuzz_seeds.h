#pragma once
// Seed inputs of the fuzz targets, made with the image builder so that no
// binary fixture needs to be kept: valid images in several shapes, and
// partition strings and environment blobs from the grammar's examples, and
// report records as workers send them and as they should not.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using FuzzSeed = std::pair<std::string, std::vector<uint8_t>>; // (name, bytes)

std::vector<FuzzSeed> imageReaderSeeds();
std::vector<FuzzSeed> partitionSeeds();
std::vector<FuzzSeed> reportSeeds();
