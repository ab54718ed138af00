#include "view/camera.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdlib>

#include "universe/universe.h"

std::array<double, 3> cameraForward(const Camera& c) {
    const double a = degreesToRadians(c.alt);
    const double b = degreesToRadians(c.az);
    return {std::sin(b) * std::cos(a), -std::sin(a), -std::cos(b) * std::cos(a)};
}

namespace {

using Mat = std::array<double, 16>;

Mat multiply(const Mat& a, const Mat& b) {
    Mat r{};
    for (int col = 0; col < 4; ++col)
        for (int row = 0; row < 4; ++row) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += a[k * 4 + row] * b[col * 4 + k];
            r[col * 4 + row] = s;
        }
    return r;
}

// The matrix glRotate builds for an angle about a (normalised) axis.
Mat rotation(double degrees, double x, double y, double z) {
    const double len = std::sqrt(x * x + y * y + z * z);
    if (len > 0) {
        x /= len;
        y /= len;
        z /= len;
    }
    const double r = degrees * M_PI / 180.0;
    const double c = std::cos(r), s = std::sin(r), t = 1 - c;
    return {t * x * x + c,     t * x * y + s * z, t * x * z - s * y, 0,
            t * x * y - s * z, t * y * y + c,     t * y * z + s * x, 0,
            t * x * z + s * y, t * y * z - s * x, t * z * z + c,     0,
            0,                 0,                 0,                 1};
}

}  // namespace

std::array<double, 16> cameraViewMatrix(const Camera& c) {
    const double a = degreesToRadians(c.az);
    Mat m = rotation(c.az, 0, 1, 0);
    m = multiply(m, rotation(c.alt, std::cos(a), 0, std::sin(a)));
    Mat t{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -double(c.x), -double(c.y), -double(c.z), 1};
    return multiply(m, t);
}

void applyCameraTransform(const Camera& c) {
    const double a = degreesToRadians(c.az);
    glRotatef(c.az, 0.0f, 1.0f, 0.0f);
    glRotatef(c.alt, float(std::cos(a)), 0.0f, float(std::sin(a)));
    glTranslatef(-c.x, -c.y, -c.z);
}

void stepForward(Camera& c) {
    const auto f = cameraForward(c);
    c.x = float(c.x + f[0]);
    c.y = float(c.y + f[1]);
    c.z = float(c.z + f[2]);
}

void stepBack(Camera& c) {
    const auto f = cameraForward(c);
    c.x = float(c.x - f[0]);
    c.y = float(c.y - f[1]);
    c.z = float(c.z - f[2]);
}

bool handleCameraKey(Camera& c, int virtualKey, Universe* universe) {
    switch (virtualKey) {
        case KeyTurnLeft: c.az = float(double(c.az) - 10); return true;
        case KeyTurnRight: c.az = float(double(c.az) + 10); return true;
        case KeyTiltDown: c.alt = float(double(c.alt) + 10); return true;
        case KeyTiltUp: c.alt = float(double(c.alt) - 10); return true;
        case KeyForward: stepForward(c); return true;
        case KeyBack: stepBack(c); return true;
        case KeyPulse:
            if (universe) universe->pulseRequest = 1;
            return true;
        default: return false;
    }
}

bool centreOfMass(Camera& c, const Universe& universe) {
    double cx, cy, cz;
    if (!universe.centroid(cx, cy, cz)) return false;
    c.x = float(cx);
    c.y = float(cy);
    c.z = float(cz + 50);
    c.alt = 0;
    c.az = 0;
    return true;
}

std::optional<Camera> parseCameraText(const char* text) {
    if (!text) return std::nullopt;
    float v[5];
    const char* p = text;
    for (int k = 0; k < 5; ++k) {
        char* end = nullptr;
        const double d = std::strtod(p, &end);
        if (end == p || !std::isfinite(d) || std::fabs(d) > 3.0e38) return std::nullopt;
        v[k] = float(d);
        if (*end != (k < 4 ? ',' : '\0')) return std::nullopt;
        p = end + 1;
    }
    return cameraAt(v[0], v[1], v[2], v[3], v[4]);
}
