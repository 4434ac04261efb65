#include "renderer/RendererFactory.hh"

#include <cstdio>

// Zero-initialised before any static constructor runs, so factories may
// register from static objects in any order.
std::map<std::string, RendererFactory*>* RendererFactory::library = nullptr;

RendererFactory::RendererFactory(const std::string& name)
{
  if (!library)
    library = new std::map<std::string, RendererFactory*>;
  (*library)[name] = this;
}

RendererFactory::~RendererFactory()
{
  if (!library)
    return;
  for (auto it = library->begin(); it != library->end(); ++it)
    if (it->second == this) {
      library->erase(it);
      break;
    }
  if (library->empty()) {
    delete library;
    library = nullptr;
  }
}

RendererFactory* RendererFactory::find(const std::string& name)
{
  if (!library)
    return nullptr;
  if (!name.empty()) {
    auto it = library->find(name);
    return it == library->end() ? nullptr : it->second;
  }
  // Only the first one or two entries are looked at: "null" and "x11" are
  // never the default.
  auto it = library->begin();
  if (it != library->end() && it->first == "null")
    ++it;
  if (it != library->end() && it->first == "x11")
    ++it;
  return it == library->end() ? nullptr : it->second;
}

void RendererFactory::printLibrary()
{
  if (!library)
    return;
  for (auto& entry : *library)
    std::printf("%s\t%s\n", entry.first.c_str(), entry.second->info().c_str());
  std::fflush(stdout);
}
