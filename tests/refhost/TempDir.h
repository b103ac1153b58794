#pragma once
// A fresh folder under $TMPDIR for one test, removed with everything in it afterwards.

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class TempDir {
  public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl =
            std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/qarn-test-XXXXXX";
        if (mkdtemp(&tmpl[0]) != nullptr) {
            path_ = tmpl;
        }
    }
    ~TempDir() { removeTree(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        if (DIR* d = opendir(path_.c_str())) {
            while (const dirent* e = readdir(d)) {
                const std::string n = e->d_name;
                if (n != "." && n != "..") {
                    out.push_back(n);
                }
            }
            closedir(d);
        }
        return out;
    }

    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }

  private:
    static void removeTree(const std::string& path) {
        if (path.empty()) {
            return;
        }
        if (DIR* d = opendir(path.c_str())) {
            while (const dirent* e = readdir(d)) {
                const std::string n = e->d_name;
                if (n == "." || n == "..") {
                    continue;
                }
                const std::string child = path + "/" + n;
                struct stat st {};
                if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                    removeTree(child);
                } else {
                    unlink(child.c_str());
                }
            }
            closedir(d);
        }
        rmdir(path.c_str());
    }

    std::string path_;
};
