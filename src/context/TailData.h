#pragma once
// The media item that the server's init xml describes. Setting the title,
// image or text tells every listener, on the setting thread.
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

  void addListener(TailDataChangeListener* listener) { listeners_.push_back(listener); }

  void setTitle(const std::wstring& v) { title_ = v; notify(); }
  void setImage(const std::wstring& v) { image_ = v; notify(); }
  void setText(const std::wstring& v) { text_ = v; notify(); }
  void setTorrentHash(const std::wstring& v) { torrentHash_ = v; }
  void setUrl(const std::wstring& v) { url_ = v; }
  void setType(const std::wstring& v) { type_ = v; }
  void setEntity(const std::wstring& v) { entity_ = v; }
  void setArtist(const std::wstring& v) { artist_ = v; }

  const std::wstring& title() const { return title_; }
  const std::wstring& image() const { return image_; }
  const std::wstring& text() const { return text_; }
  const std::wstring& torrentHash() const { return torrentHash_; }
  const std::wstring& url() const { return url_; }
  const std::wstring& type() const { return type_; }
  const std::wstring& entity() const { return entity_; }
  const std::wstring& artist() const { return artist_; }

 private:
  void notify() {
    for (auto* l : listeners_) l->onTailDataChanged(*this);
  }
  std::vector<TailDataChangeListener*> listeners_;
  std::wstring torrentHash_, url_, title_, image_, type_, text_, entity_, artist_;
};
