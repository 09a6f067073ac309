// Replaying the Shell sort's gap passes on ranks. Each pass (gap = L/2,
// L/4, ..., 1) is, for every chain i, i + gap, i + 2 gap, ..., an insertion
// sort that stops at the first rank less or equal: a stable sort of the chain.
#include <algorithm>
#include <vector>

#include "convert/sort.h"

namespace zelk {

namespace {

// The values: a rank in the high bits, below it (from bit `shift` down) what
// tells the lines apart. Only ranks are compared.
template <class T>
struct Ranks {
  unsigned shift;
  T rank(T v) const { return v >> shift; }
  bool less(T a, T b) const { return rank(a) < rank(b); }
};

// Moves an insertion sort over n values may make before it gives way to a
// merge sort: linear in n, so a pass never goes quadratic.
size_t move_budget(size_t n) { return 8 * n + 64; }

// Stable sort of one chain by rank: insertion sort while the chain is nearly
// in order, a merge sort once that gets costly.
template <class T>
void sort_chain(T* a, size_t n, Ranks<T> ranks) {
  size_t budget = move_budget(n);
  for (size_t i = 1; i < n; ++i) {
    T v = a[i];
    size_t j = i;
    while (j > 0 && ranks.rank(a[j - 1]) > ranks.rank(v)) {
      a[j] = a[j - 1];
      --j;
      if (--budget == 0) {
        a[j] = v;
        std::stable_sort(a, a + n, [ranks](T x, T y) { return ranks.less(x, y); });
        return;
      }
    }
    a[j] = v;
  }
}

// A pass whose gap is half the previous one: every chain is the interleaving
// of two chains sorted by the previous pass, so a stable sort of it is their
// merge, ties going to the element that stood first in the chain. Reads a,
// writes b. Each chain is merged from both ends at once, which halves the
// chain of dependent steps; the two halves meet exactly because no two
// elements of a chain compare equal once ties go by position.
template <class T>
void merge_pass(const T* a, T* b, size_t n, size_t gap, Ranks<T> ranks) {
  const size_t step = 2 * gap;
  for (size_t r = 0; r < gap; ++r) {
    size_t len = (n - r + gap - 1) / gap;
    size_t len_a = (len + 1) / 2, len_b = len / 2;
    const T* pa = a + r;        // chain positions 0, 2, 4, ...
    const T* pb = a + r + gap;  // chain positions 1, 3, 5, ...
    T* out = b + r;
    if (len_b == 0) {
      out[0] = pa[0];
      continue;
    }
    size_t fa = 0, fb = 0;                  // front: next of each half
    size_t ba = len_a - 1, bb = len_b - 1;  // back: last of each half not yet taken
    size_t front = 0, back = len - 1, half = len / 2;
    for (; front < half; ++front, --back) {
      T x = pa[fa * step], y = pb[fb * step];
      bool take_a =
          (ranks.rank(x) < ranks.rank(y)) | ((ranks.rank(x) == ranks.rank(y)) & (fa <= fb));
      out[front * gap] = take_a ? x : y;
      fa += take_a;
      fb += !take_a;
      T u = pa[ba * step], v = pb[bb * step];
      bool last_b =
          (ranks.rank(v) > ranks.rank(u)) | ((ranks.rank(v) == ranks.rank(u)) & (bb >= ba));
      out[back * gap] = last_b ? v : u;
      bb -= last_b;
      ba -= !last_b;
    }
    if (front == back) {  // odd length: the one element left in the middle
      out[front * gap] = ba == fa ? pa[fa * step] : pb[fb * step];  // ba wraps when A is used up
    }
  }
}

// Any other pass: each chain stably sorted on its own. The array is walked
// once as the Shell sort does it, inserting each element into its chain,
// which reads memory in order. When that takes too many moves (on inputs
// where halving gaps go quadratic), the chains are finished one by one: an
// element moved only past greater ranks keeps equal ranks in their order, so
// a stable sort from that state gives the same result.
template <class T>
void sort_pass(T* a, size_t n, size_t gap, std::vector<T>& tmp, Ranks<T> ranks) {
  size_t budget = move_budget(n);
  for (size_t i = gap; i < n && budget != 0; ++i) {
    T v = a[i];
    size_t j = i;
    while (j >= gap && ranks.rank(a[j - gap]) > ranks.rank(v) && budget != 0) {
      a[j] = a[j - gap];
      j -= gap;
      --budget;
    }
    a[j] = v;
  }
  if (budget != 0) return;
  if (gap == 1) {
    sort_chain(a, n, ranks);
    return;
  }
  for (size_t r = 0; r < gap; ++r) {
    size_t len = (n - r + gap - 1) / gap;
    tmp.resize(len);
    for (size_t i = 0; i < len; ++i) tmp[i] = a[r + i * gap];
    sort_chain(tmp.data(), len, ranks);
    for (size_t i = 0; i < len; ++i) a[r + i * gap] = tmp[i];
  }
}

template <class T>
void replay(UninitVector<T>& a, unsigned shift) {
  Ranks<T> ranks{shift};
  size_t n = a.size();
  UninitVector<T> other;
  std::vector<T> tmp;
  size_t previous = 0;
  for (size_t gap = n / 2; gap > 0; previous = gap, gap /= 2) {
    if (previous == 2 * gap) {
      other.resize(n);
      merge_pass(a.data(), other.data(), n, gap, ranks);
      a.swap(other);
    } else {
      sort_pass(a.data(), n, gap, tmp, ranks);
    }
  }
}

}  // namespace

void shell_replay(UninitVector<uint64_t>& a, unsigned shift) { replay(a, shift); }
void shell_replay(UninitVector<uint32_t>& a, unsigned shift) { replay(a, shift); }

}  // namespace zelk
