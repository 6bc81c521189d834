#pragma once
// Seed inputs of the fuzz targets, made with the image builder so that no
// binary fixture needs to be kept: valid images in several shapes, partition
// strings and environment blobs from the grammar's examples, report records
// as workers send them and as they should not, and port-map texts as the
// settings file holds them.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using FuzzSeed = std::pair<std::string, std::vector<uint8_t>>; // (name, bytes)

std::vector<FuzzSeed> imageReaderSeeds();
std::vector<FuzzSeed> partitionSeeds();
std::vector<FuzzSeed> reportSeeds();
// Answer streams of a scripted board: all zeros (every wrapper matching) and
// answers announcing lengths and block sizes.
std::vector<FuzzSeed> commandAnswerSeeds();
// Worker command lines, arguments separated by NUL bytes.
std::vector<FuzzSeed> workerArgsSeeds();
std::vector<FuzzSeed> portMapSeeds();
// Serial lines: asked length, then the board's handshake answer and frames.
std::vector<FuzzSeed> uartSeeds();
