#pragma once
// The media item that the server's init xml describes. The statistics
// thread sets it from the start answer while the wizard reads it, so every
// field is read as a copy under the item's lock. Setting the title, image
// or text tells every listener on the setting thread, outside the lock: a
// window's listener only posts itself a message.
#include <mutex>
#include <string>
#include <vector>

class TailData;

class TailDataChangeListener {
 public:
  virtual ~TailDataChangeListener() = default;
  virtual void onTailDataChanged(const TailData& data) = 0;
};

class TailData {
 public:
  explicit TailData(std::wstring url) : url_(std::move(url)) {}

  void addListener(TailDataChangeListener* listener) {
    std::lock_guard<std::mutex> hold(lock_);
    listeners_.push_back(listener);
  }

  void setTitle(const std::wstring& v) { set(title_, v, true); }
  void setImage(const std::wstring& v) { set(image_, v, true); }
  void setText(const std::wstring& v) { set(text_, v, true); }
  void setTorrentHash(const std::wstring& v) { set(torrentHash_, v, false); }
  void setUrl(const std::wstring& v) { set(url_, v, false); }
  void setType(const std::wstring& v) { set(type_, v, false); }
  void setEntity(const std::wstring& v) { set(entity_, v, false); }
  void setArtist(const std::wstring& v) { set(artist_, v, false); }

  std::wstring title() const { return get(title_); }
  std::wstring image() const { return get(image_); }
  std::wstring text() const { return get(text_); }
  std::wstring torrentHash() const { return get(torrentHash_); }
  std::wstring url() const { return get(url_); }
  std::wstring type() const { return get(type_); }
  std::wstring entity() const { return get(entity_); }
  std::wstring artist() const { return get(artist_); }

 private:
  void set(std::wstring& field, const std::wstring& v, bool tell) {
    std::vector<TailDataChangeListener*> listeners;
    {
      std::lock_guard<std::mutex> hold(lock_);
      field = v;
      if (tell) listeners = listeners_;
    }
    for (auto* l : listeners) l->onTailDataChanged(*this);
  }
  std::wstring get(const std::wstring& field) const {
    std::lock_guard<std::mutex> hold(lock_);
    return field;
  }

  mutable std::mutex lock_;
  std::vector<TailDataChangeListener*> listeners_;
  std::wstring torrentHash_, url_, title_, image_, type_, text_, entity_, artist_;
};
