#include "core/Chromosome.h"

#include <cctype>

namespace ombra {

namespace {

bool equalsUpper(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != upper[i]) return false;
  }
  return true;
}

}  // namespace

int chromosomeCode(std::string_view name) {
  if (name.size() > 3 && equalsUpper(name.substr(0, 3), "CHR")) name.remove_prefix(3);
  if (equalsUpper(name, "X")) return kChromosomeX;
  if (equalsUpper(name, "Y")) return kChromosomeY;
  for (std::string_view xy : {"XY", "PAR", "PAR1", "PAR2"}) {
    if (equalsUpper(name, xy)) return kChromosomeXY;
  }
  if (equalsUpper(name, "MT") || equalsUpper(name, "M")) return kChromosomeMT;
  if (name.empty()) return kOtherChromosome;
  int code = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return kOtherChromosome;
    code = code * 10 + (c - '0');
    if (code > 99) return kOtherChromosome;
  }
  return code;
}

}  // namespace ombra
