// A codec option string ("G4,Deflate|none") as a set of words. Codecs test
// each option they know once with containsAndRemove; unknown words are
// ignored.
#pragma once

#include <set>
#include <string>

class Args : public std::set<std::string> {
public:
  Args(const std::string& options, bool lowercase = true)
  {
    // Words are neither trimmed nor dropped when empty; a trailing
    // separator adds nothing.
    std::string::size_type pos = 0;
    while (pos < options.size()) {
      std::string::size_type end = options.find_first_of(",;|", pos);
      if (end == std::string::npos)
        end = options.size();
      std::string word = options.substr(pos, end - pos);
      if (lowercase)
        for (char& c : word)
          if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
      insert(word);
      pos = end + 1;
    }
  }

  bool containsAndRemove(const std::string& word)
  {
    return erase(word) > 0;
  }
};
