#pragma once
// Seed inputs of the fuzz targets, made with the image builder so that no
// binary fixture needs to be kept: valid images in several shapes, partition
// strings and environment blobs from the grammar's examples, and port-map
// texts as the settings file holds them.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using FuzzSeed = std::pair<std::string, std::vector<uint8_t>>; // (name, bytes)

std::vector<FuzzSeed> imageReaderSeeds();
std::vector<FuzzSeed> partitionSeeds();
std::vector<FuzzSeed> portMapSeeds();
