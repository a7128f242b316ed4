#include "platform/framework/SubclientConf.h"

void SubclientConf::initContentCallback(int id, const char* content) {
  content_.addToContentCache(id, content);
}

void SubclientConf::SetCaseSensitive(bool flag) {
  if (flag) {
    content_.setContentCaseSensitive();
  } else {
    content_.setContentCaseInsensitive();
  }
}
