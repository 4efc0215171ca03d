#pragma once
// An ops header, for the link layer below to include by mistake.
