// One merge run of the user's six filter lists with the lists of an unpacked package.
#pragma once

#include <string>

// Merges each list: the package's entries first, in their order, then the user's entries
// that the package does not already hold; no entry twice; renumbered from 1 and written back
// into the user's file. Failures are not reported: a list that cannot be read contributes
// nothing, a section that cannot be written stays as it was.
class CFilterCombiner {
 public:
  // Both directories end with a separator.
  CFilterCombiner(const std::wstring& userDir, const std::wstring& packageResourceDir);
  virtual ~CFilterCombiner() = default;

  // The six merges, in this order: "UrlFilter", "UrlUnFilter", "PopFilter", "PopUnFilter"
  // of "Filter.ini"; "FlyFilter", "FlyUnFilter" of "FilterFly.ini".
  void CombineAll();

  // Merges section of the package's "2" + fileName into section of the user's fileName.
  void CombineSection(const std::wstring& fileName, const std::wstring& section,
                      const std::wstring& keyPrefix);

  // Merges "FlyFilter" of the package's "FilterFly.ini" (no "2" in front), leaving out the
  // package's "*" entry; a "*" of the user's list stays.
  void CombineFlyFilter();

  void CombineUrlUnFilter();
  void CombinePopFilter();
  void CombinePopUnFilter();

 private:
  std::wstring userDir_;
  std::wstring packageResourceDir_;
};
