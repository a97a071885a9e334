// The files a run writes: never one of its inputs, and never half-made. Each output goes to a
// temporary file in the directory of the named one and is renamed over it only once the whole run
// has succeeded, standard output included.
#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "cli.hpp"

namespace orienta::cli {

namespace {

using Identidad = std::pair<uint64_t, uint64_t>;  // device, inode

bool identidad_de(const std::string& ruta, Identidad& id) {
  struct stat s;
  if (::stat(ruta.c_str(), &s) != 0) return false;
  id = {uint64_t(s.st_dev), uint64_t(s.st_ino)};
  return true;
}

// Standard output's file, when it is a regular file (a terminal, a pipe or /dev/null is none).
bool salida_estandar(Identidad& id) {
  struct stat s;
  if (::fstat(STDOUT_FILENO, &s) != 0 || !S_ISREG(s.st_mode)) return false;
  id = {uint64_t(s.st_dev), uint64_t(s.st_ino)};
  return true;
}

// A link is written through: the file it names is replaced, the link stays.
std::string resuelta(const std::string& ruta) {
  struct stat s;
  if (::lstat(ruta.c_str(), &s) == 0 && S_ISLNK(s.st_mode)) {
    char r[PATH_MAX];
    if (::realpath(ruta.c_str(), r)) return r;
  }
  return ruta;
}

std::string carpeta_de(const std::string& ruta) {
  std::string copia = ruta;
  return ::dirname(copia.data());
}

}  // namespace

Escrituras& escrituras() {
  static Escrituras e;
  return e;
}

Escrituras::~Escrituras() {
  for (Pendiente& p : pendientes_) {
    if (p.f) std::fclose(p.f);
    ::unlink(p.temporal.c_str());
  }
}

void Escrituras::entrada(const std::string& ruta) {
  Identidad id, salida;
  const bool estandar = ruta.empty() || ruta == "-";
  struct stat s;
  if (estandar ? ::fstat(STDIN_FILENO, &s) != 0 : !identidad_de(ruta, id)) return;  // opening it will say why
  if (estandar) id = {uint64_t(s.st_dev), uint64_t(s.st_ino)};
  entradas_.push_back(id);
  if (salida_estandar(salida) && salida == id)
    throw Fallo((estandar ? std::string("<stdin>") : ruta) +
                ": standard output is this input file, which would be overwritten while it is read (a shell "
                "redirection '> FILE' has already emptied it): write the output to another file");
}

std::FILE* Escrituras::abre(const std::string& ruta, const std::string& que) {
  const std::string destino = resuelta(ruta);
  Identidad id, salida;
  if (identidad_de(destino, id)) {
    if (std::find(entradas_.begin(), entradas_.end(), id) != entradas_.end())
      throw Fallo(ruta + ": the " + que + " would overwrite an input of this run: choose another file");
    if (salida_estandar(salida) && salida == id)
      throw Fallo(ruta + ": the " + que + " would overwrite standard output's file: choose another file");
    for (const Pendiente& p : pendientes_)
      if (identidad_de(p.destino, salida) && salida == id) throw Fallo(ruta + ": written twice by this run");
  }
  std::string plantilla = carpeta_de(destino) + "/.orienta-XXXXXX";
  const int fd = ::mkstemp(plantilla.data());
  if (fd < 0) throw Fallo(ruta + ": cannot write the " + que + ": " + std::strerror(errno));
  // mkstemp makes the file private; give it what a plain creation would (or the replaced file's mode).
  struct stat s;
  mode_t modo;
  if (::stat(destino.c_str(), &s) == 0) {
    modo = s.st_mode & 07777;
  } else {
    const mode_t mascara = ::umask(0);
    ::umask(mascara);
    modo = 0666 & ~mascara;
  }
  ::fchmod(fd, modo);
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    ::close(fd);
    ::unlink(plantilla.c_str());
    throw Fallo(ruta + ": cannot write the " + que + ": " + std::strerror(errno));
  }
  pendientes_.push_back({destino, plantilla, que, f});
  return f;
}

void Escrituras::confirma() {
  for (Pendiente& p : pendientes_) {
    const bool escrito = std::fflush(p.f) == 0 && !std::ferror(p.f);
    const int error = errno;
    const bool cerrado = std::fclose(p.f) == 0;
    p.f = nullptr;
    if (!escrito || !cerrado) throw Fallo(p.destino + ": cannot write the " + p.que + ": " + std::strerror(error));
  }
  for (Pendiente& p : pendientes_)
    if (::rename(p.temporal.c_str(), p.destino.c_str()) != 0)
      throw Fallo(p.destino + ": cannot write the " + p.que + ": " + std::strerror(errno));
  pendientes_.clear();
}

}  // namespace orienta::cli
