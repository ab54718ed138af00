#include "view/drive_dump.h"

#include <GL/gl.h>

#include <array>
#include <fstream>
#include <vector>

#include "universe/driver.h"
#include "universe/universe.h"
#include "view/part_geometry.h"
#include "view/scene.h"
#include "view/snapshot.h"

bool writeDriveCoordinates(const Camera& camera, Universe& universe, SteppingDriver* driver, const std::string& path) {
    std::ofstream out(path, std::ios::trunc);

    std::vector<std::array<int32_t, 3>> drives;
    const bool pausedHere = driver && driver->pauseForRead();
    collectDrivePositions(universe, drives);
    if (driver) driver->resumeAfterRead(pausedHere);

    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    applyCameraTransform(camera);
    for (const auto& p : drives) {
        glPushMatrix();
        glTranslatef(float(p[0]), float(p[1]), float(p[2]));
        glRasterPos3f(kDriveDumpOffset, kDriveDumpOffset, kDriveDumpOffset);
        GLboolean valid = GL_FALSE;
        glGetBooleanv(GL_CURRENT_RASTER_POSITION_VALID, &valid);
        if (valid) {
            GLfloat window[4] = {0, 0, 0, 0};
            glGetFloatv(GL_CURRENT_RASTER_POSITION, window);
            out << window[0] << ' ' << window[1] << '\n';
            out.flush();
        }
        glPopMatrix();
    }
    glPopMatrix();
    glFinish();
    out.close();
    return !out.fail();
}
