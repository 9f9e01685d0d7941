#include "uniobject/lzhuf.h"

#include <algorithm>
#include <array>
#include <memory>

#include "uniobject/settings.h"

namespace UniObject::Lzhuf {

namespace {

constexpr int N = 4096;       // ring buffer size
constexpr int F = 60;         // look-ahead
constexpr int THRESHOLD = 2;  // a match must be longer than this
constexpr int NIL = N;
constexpr int N_CHAR = 256 - THRESHOLD + F;  // 314 symbols: 256 bytes and match lengths 3..60
constexpr int T = N_CHAR * 2 - 1;            // nodes of the tree
constexpr int R = T - 1;                     // root
constexpr unsigned MAX_FREQ = 0x8000;

// The position table: code lengths of the upper 6 bits of a position (1 code of 3 bits,
// 3 of 4, 8 of 5, 12 of 6, 24 of 7, 16 of 8); the codes are the canonical ones for these
// lengths, assigned in order.
struct TPositionTable {
  std::array<std::uint8_t, 64> Length{};
  std::array<std::uint8_t, 64> Code{};  // left-aligned in 8 bits
  // For decoding: the upper 6 bits and the code length from the next 8 bits.
  std::array<std::uint8_t, 256> DecodeUpper{};
  std::array<std::uint8_t, 256> DecodeLength{};
};

TPositionTable MakePositionTable() {
  TPositionTable table;
  constexpr std::array<std::pair<int, int>, 6> counts{{{3, 1}, {4, 3}, {5, 8}, {6, 12}, {7, 24}, {8, 16}}};
  int index = 0;
  unsigned code = 0;
  int previous = 3;
  for (auto [length, count] : counts) {
    code <<= (length - previous);
    previous = length;
    for (int i = 0; i < count; ++i, ++index, ++code) {
      table.Length[index] = static_cast<std::uint8_t>(length);
      table.Code[index] = static_cast<std::uint8_t>(code << (8 - length));
      for (unsigned low = 0; low < (1u << (8 - length)); ++low) {
        table.DecodeUpper[table.Code[index] | low] = static_cast<std::uint8_t>(index);
        table.DecodeLength[table.Code[index] | low] = static_cast<std::uint8_t>(length);
      }
    }
  }
  return table;
}

const TPositionTable& PositionTable() {
  static const TPositionTable table = MakePositionTable();
  return table;
}

// The adaptive Huffman tree.
class THuffmanTree {
 public:
  THuffmanTree() {
    for (int i = 0; i < N_CHAR; ++i) {
      fFreq[i] = 1;
      fSon[i] = i + T;
      fParent[i + T] = i;
    }
    for (int i = 0, j = N_CHAR; j <= R; i += 2, ++j) {
      fFreq[j] = fFreq[i] + fFreq[i + 1];
      fSon[j] = i;
      fParent[i] = fParent[i + 1] = j;
    }
    fFreq[T] = 0xFFFF;
    fParent[R] = 0;
  }

  int Leaf(int aSymbol) const { return fParent[aSymbol + T]; }
  int Parent(int aNode) const { return fParent[aNode]; }
  int Son(int aNode) const { return fSon[aNode]; }

  void Update(int aSymbol) {
    if (fFreq[R] == MAX_FREQ)
      Reconstruct();
    int c = fParent[aSymbol + T];
    do {
      const unsigned k = ++fFreq[c];
      // When the order is disturbed, exchange the node with the last one of lower weight.
      int l = c + 1;
      if (k > fFreq[l]) {
        while (k > fFreq[++l]) {
        }
        --l;
        fFreq[c] = fFreq[l];
        fFreq[l] = k;
        const int i = fSon[c];
        fParent[i] = l;
        if (i < T)
          fParent[i + 1] = l;
        const int j = fSon[l];
        fSon[l] = i;
        fParent[j] = c;
        if (j < T)
          fParent[j + 1] = c;
        fSon[c] = j;
        c = l;
      }
    } while ((c = fParent[c]) != 0);
  }

 private:
  // Halves the frequencies and rebuilds the tree when the root reaches MAX_FREQ.
  void Reconstruct() {
    int j = 0;
    for (int i = 0; i < T; ++i) {
      if (fSon[i] >= T) {
        fFreq[j] = (fFreq[i] + 1) / 2;
        fSon[j] = fSon[i];
        ++j;
      }
    }
    for (int i = 0, k = N_CHAR; k < T; i += 2, ++k) {
      const unsigned f = fFreq[i] + fFreq[i + 1];
      fFreq[k] = f;
      int m = k - 1;
      while (f < fFreq[m])
        --m;
      ++m;
      std::copy_backward(fFreq.begin() + m, fFreq.begin() + k, fFreq.begin() + k + 1);
      fFreq[m] = f;
      std::copy_backward(fSon.begin() + m, fSon.begin() + k, fSon.begin() + k + 1);
      fSon[m] = i;
    }
    for (int i = 0; i < T; ++i) {
      const int k = fSon[i];
      if (k >= T)
        fParent[k] = i;
      else
        fParent[k] = fParent[k + 1] = i;
    }
  }

  std::array<unsigned, T + 1> fFreq{};
  std::array<int, T + N_CHAR> fParent{};
  std::array<int, T> fSon{};
};

class TBitWriter {
 public:
  explicit TBitWriter(std::vector<std::uint8_t>& aOut) : fOut(aOut) {}
  void PutBit(unsigned aBit) {
    fBuffer = static_cast<std::uint8_t>((fBuffer << 1) | (aBit & 1));
    if (++fCount == 8) {
      fOut.push_back(fBuffer);
      fBuffer = 0;
      fCount = 0;
    }
  }
  // The aLength high bits of aCode (left-aligned in aWidth bits).
  void PutBits(unsigned aCode, int aLength, int aWidth) {
    for (int i = 0; i < aLength; ++i)
      PutBit(aCode >> (aWidth - 1 - i));
  }
  void Flush() {
    if (fCount > 0)
      fOut.push_back(static_cast<std::uint8_t>(fBuffer << (8 - fCount)));
    fCount = 0;
  }

 private:
  std::vector<std::uint8_t>& fOut;
  std::uint8_t fBuffer = 0;
  int fCount = 0;
};

class TBitReader {
 public:
  explicit TBitReader(std::span<const std::uint8_t> aIn) : fIn(aIn) {}
  unsigned GetBit() {
    if (fBit == 0) {
      if (fPos >= fIn.size())
        throw EUniListReadError("Packer - Fehler beim Einlesen des Streames!");
      fByte = fIn[fPos++];
      fBit = 8;
    }
    --fBit;
    return (fByte >> fBit) & 1u;
  }
  unsigned GetBits(int aCount) {
    unsigned value = 0;
    for (int i = 0; i < aCount; ++i)
      value = (value << 1) | GetBit();
    return value;
  }

 private:
  std::span<const std::uint8_t> fIn;
  std::size_t fPos = 0;
  std::uint8_t fByte = 0;
  int fBit = 0;
};

// The binary search trees of the encoder's ring buffer, as in the published LZSS coder.
class TMatchTree {
 public:
  TMatchTree() {
    fText.fill(0);
    std::fill(fRight.begin() + N + 1, fRight.end(), NIL);
    std::fill(fDad.begin(), fDad.begin() + N, NIL);
  }
  std::array<std::uint8_t, N + F - 1>& Text() { return fText; }
  int MatchLength() const { return fMatchLength; }
  int MatchPosition() const { return fMatchPosition; }
  void SetMatchLength(int aLength) { fMatchLength = aLength; }

  void InsertNode(int r) {
    int cmp = 1;
    const std::uint8_t* key = &fText[r];
    int p = N + 1 + key[0];
    fRight[r] = fLeft[r] = NIL;
    fMatchLength = 0;
    for (;;) {
      if (cmp >= 0) {
        if (fRight[p] != NIL) {
          p = fRight[p];
        } else {
          fRight[p] = r;
          fDad[r] = p;
          return;
        }
      } else {
        if (fLeft[p] != NIL) {
          p = fLeft[p];
        } else {
          fLeft[p] = r;
          fDad[r] = p;
          return;
        }
      }
      int i = 1;
      for (; i < F; ++i)
        if ((cmp = key[i] - fText[p + i]) != 0)
          break;
      if (i > THRESHOLD) {
        const int distance = ((r - p) & (N - 1)) - 1;
        if (i > fMatchLength) {
          fMatchPosition = distance;
          if ((fMatchLength = i) >= F)
            break;
        }
        if (i == fMatchLength && distance < fMatchPosition)
          fMatchPosition = distance;
      }
    }
    // Replace p by r: r is the newer node with the same key.
    fDad[r] = fDad[p];
    fLeft[r] = fLeft[p];
    fRight[r] = fRight[p];
    fDad[fLeft[p]] = r;
    fDad[fRight[p]] = r;
    if (fRight[fDad[p]] == p)
      fRight[fDad[p]] = r;
    else
      fLeft[fDad[p]] = r;
    fDad[p] = NIL;
  }

  void DeleteNode(int p) {
    if (fDad[p] == NIL)
      return;
    int q;
    if (fRight[p] == NIL) {
      q = fLeft[p];
    } else if (fLeft[p] == NIL) {
      q = fRight[p];
    } else {
      q = fLeft[p];
      if (fRight[q] != NIL) {
        do {
          q = fRight[q];
        } while (fRight[q] != NIL);
        fRight[fDad[q]] = fLeft[q];
        fDad[fLeft[q]] = fDad[q];
        fLeft[q] = fLeft[p];
        fDad[fLeft[p]] = q;
      }
      fRight[q] = fRight[p];
      fDad[fRight[p]] = q;
    }
    fDad[q] = fDad[p];
    if (fRight[fDad[p]] == p)
      fRight[fDad[p]] = q;
    else
      fLeft[fDad[p]] = q;
    fDad[p] = NIL;
  }

 private:
  std::array<std::uint8_t, N + F - 1> fText;
  std::array<int, N + 1> fLeft{};
  std::array<int, N + 257> fRight{};
  std::array<int, N + 1> fDad{};
  int fMatchPosition = 0;
  int fMatchLength = 0;
};

void EncodeChar(THuffmanTree& aTree, TBitWriter& aWriter, int aSymbol) {
  // Walk from the leaf to the root, collecting the branch bits (odd node = bigger child).
  std::array<std::uint8_t, T> path;
  int depth = 0;
  int k = aTree.Leaf(aSymbol);
  do {
    path[depth++] = static_cast<std::uint8_t>(k & 1);
  } while ((k = aTree.Parent(k)) != R);
  while (depth > 0)
    aWriter.PutBit(path[--depth]);
  aTree.Update(aSymbol);
}

void EncodePosition(TBitWriter& aWriter, unsigned aPosition) {
  const auto& table = PositionTable();
  const unsigned upper = aPosition >> 6;
  aWriter.PutBits(table.Code[upper], table.Length[upper], 8);
  aWriter.PutBits(aPosition & 0x3F, 6, 6);
}

int DecodeChar(THuffmanTree& aTree, TBitReader& aReader) {
  int c = aTree.Son(R);
  while (c < T)
    c = aTree.Son(c + static_cast<int>(aReader.GetBit()));
  c -= T;
  aTree.Update(c);
  return c;
}

unsigned DecodePosition(TBitReader& aReader) {
  const auto& table = PositionTable();
  const unsigned first = aReader.GetBits(8);
  const unsigned upper = table.DecodeUpper[first];
  const int length = table.DecodeLength[first];
  // 8 bits read so far; the code and the 6 verbatim bits take length + 6.
  unsigned bits = first;
  for (int i = 0; i < length - 2; ++i)
    bits = (bits << 1) | aReader.GetBit();
  return (upper << 6) | (bits & 0x3F);
}

}  // namespace

std::vector<std::uint8_t> Encode(std::span<const std::uint8_t> aSource) {
  std::vector<std::uint8_t> out;
  if (aSource.empty())
    return out;
  out.reserve(aSource.size() / 2 + 16);
  TBitWriter writer(out);
  auto tree = std::make_unique<THuffmanTree>();
  auto matches = std::make_unique<TMatchTree>();
  auto& text = matches->Text();
  std::size_t next = 0;  // next source byte to take into the buffer
  int s = 0;
  int r = N - F;
  std::fill(text.begin(), text.begin() + r, static_cast<std::uint8_t>(' '));
  int len = 0;
  for (; len < F && next < aSource.size(); ++len)
    text[r + len] = aSource[next++];
  for (int i = 1; i <= F; ++i)
    matches->InsertNode(r - i);
  matches->InsertNode(r);
  do {
    if (matches->MatchLength() > len)
      matches->SetMatchLength(len);
    int matchLength = matches->MatchLength();
    if (matchLength <= THRESHOLD) {
      matchLength = 1;
      EncodeChar(*tree, writer, text[r]);
    } else {
      EncodeChar(*tree, writer, 255 - THRESHOLD + matchLength);
      EncodePosition(writer, static_cast<unsigned>(matches->MatchPosition()));
    }
    const int lastMatchLength = matchLength;
    int i = 0;
    for (; i < lastMatchLength && next < aSource.size(); ++i) {
      const std::uint8_t c = aSource[next++];
      matches->DeleteNode(s);
      text[s] = c;
      if (s < F - 1)
        text[s + N] = c;
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      matches->InsertNode(r);
    }
    while (i++ < lastMatchLength) {
      matches->DeleteNode(s);
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      if (--len)
        matches->InsertNode(r);
    }
  } while (len > 0);
  writer.Flush();
  return out;
}

std::vector<std::uint8_t> Decode(std::span<const std::uint8_t> aSource, std::size_t aOriginalLength) {
  std::vector<std::uint8_t> out;
  if (aOriginalLength == 0)
    return out;
  // Every bit of input yields at most F bytes; reserve no more than the input can hold.
  out.reserve(std::min<std::size_t>(aOriginalLength, aSource.size() * 8 * F));
  auto tree = std::make_unique<THuffmanTree>();
  std::array<std::uint8_t, N> text;
  std::fill(text.begin(), text.begin() + (N - F), static_cast<std::uint8_t>(' '));
  std::fill(text.begin() + (N - F), text.end(), static_cast<std::uint8_t>(0));
  TBitReader reader(aSource);
  int r = N - F;
  while (out.size() < aOriginalLength) {
    const int c = DecodeChar(*tree, reader);
    if (c < 256) {
      out.push_back(static_cast<std::uint8_t>(c));
      text[r++] = static_cast<std::uint8_t>(c);
      r &= (N - 1);
    } else {
      const int i = (r - static_cast<int>(DecodePosition(reader)) - 1) & (N - 1);
      const int j = c - 255 + THRESHOLD;
      for (int k = 0; k < j && out.size() < aOriginalLength; ++k) {
        const std::uint8_t b = text[(i + k) & (N - 1)];
        out.push_back(b);
        text[r++] = b;
        r &= (N - 1);
      }
    }
  }
  return out;
}

}  // namespace UniObject::Lzhuf
