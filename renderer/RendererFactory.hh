// Window back ends register a factory under a name from a static object;
// the host picks one by name at start-up.
#pragma once

#include <map>
#include <string>

class Renderer;

class RendererFactory {
public:
  // Enters this factory under `name`; a later factory of the same name
  // replaces the earlier entry.
  explicit RendererFactory(const std::string& name);
  virtual ~RendererFactory();

  virtual std::string info() = 0;  // one line describing the back end
  virtual Renderer* create() = 0;  // a new root renderer

  // The empty name picks the first factory in name order that is neither
  // "null" nor "x11"; any other name is looked up exactly. Null when absent.
  static RendererFactory* find(const std::string& name);
  // One line per factory on standard output: name, tab, info().
  static void printLibrary();

  // Created by the first registration, deleted when the last factory leaves.
  static std::map<std::string, RendererFactory*>* library;
};
