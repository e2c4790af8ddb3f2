#pragma once

#include <string>

#include "db/records.h"
#include "download/decoder.h"
#include "download/mime_decoder.h"
#include "download/uu_decoder.h"
#include "download/yenc_decoder.h"

namespace qs {

enum class DecoderKind { None, UUE, Base64, YEnc };

// The three decoders of one attachment and the choice among them.
class AttachmentDecoder {
  public:
    AttachmentDecoder(const Attachment& entry, const Settings& settings)
        : dir_(entry.dir),
          uu_(entry.filename, MakeOutputNamer(settings)),
          base64_(entry.filename, MakeOutputNamer(settings)),
          yenc_(entry.filename, MakeOutputNamer(settings)) {}

    // Decodes one part. True when a yEnc part failed its check and is held back: fetch it
    // again, or keep it with KeepBadParts when no better copy can be had.
    bool Decode(const LineList& lines) {
        if (kind_ == DecoderKind::None)
            return Detect(lines);
        switch (kind_) {
            case DecoderKind::UUE:
                uu_.Continue(lines);
                break;
            case DecoderKind::Base64:
                base64_.Continue(lines);
                break;
            case DecoderKind::YEnc: {
                int before = yenc_.parts_decoded();
                YencDecoder::Result r = yenc_.Start(dir_, lines);
                if (r.bad_parts > 0)
                    return true;
                if (r.parts_decoded == before)
                    ++errors_;  // no yEnc data in this part
                break;
            }
            case DecoderKind::None:
                break;
        }
        return false;
    }

    void KeepBadParts() { yenc_.KeepBadParts(); }

    void Finish() {
        yenc_.Close();
        base64_.Finish();
        uu_.Finish();
    }

    DecoderKind kind() const { return kind_; }
    // True once a decoder recognised the data of a part.
    bool recognised() const { return kind_ != DecoderKind::None; }
    // Why no decoder could create or write its file, when that happened.
    std::string output_error() const {
        for (const std::string& e :
             {uu_.output_error(), base64_.output_error(), yenc_.output_error()})
            if (!e.empty())
                return e;
        return {};
    }
    int errors() const { return errors_; }
    const std::string& output_path() const { return path_; }
    bool write_failed() const {
        switch (kind_) {
            case DecoderKind::UUE:
                return uu_.write_failed();
            case DecoderKind::Base64:
                return base64_.write_failed();
            case DecoderKind::YEnc:
                return yenc_.write_failed();
            case DecoderKind::None:
                break;
        }
        return false;
    }

  private:
    bool Detect(const LineList& lines) {
        errors_ = 0;
        if (uu_.Start(dir_, lines) && !uu_.output_path().empty()) {
            kind_ = DecoderKind::UUE;
            path_ = uu_.output_path();
            return false;
        }
        if (base64_.Start(dir_, lines) && !base64_.output_path().empty()) {
            kind_ = DecoderKind::Base64;
            path_ = base64_.output_path();
            return false;
        }
        YencDecoder::Result r = yenc_.Start(dir_, lines);
        path_ = yenc_.output_path();
        errors_ = r.parts_decoded > 0 ? 0 : 1;
        if ((r.parts_decoded > 0 || r.bad_parts > 0) && !path_.empty()) {
            kind_ = DecoderKind::YEnc;
            errors_ = 0;  // a held-back part is fetched again or kept
            return r.bad_parts > 0;
        }
        path_.clear();
        uu_.Reset();
        base64_.Reset();
        yenc_.Reset();
        return false;
    }

    std::string dir_;
    UuDecoder uu_;
    Base64Decoder base64_;
    YencDecoder yenc_;
    DecoderKind kind_ = DecoderKind::None;
    int errors_ = 0;
    std::string path_;
};


}  // namespace qs
